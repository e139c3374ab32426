// Helpers of the pop-up window tests: a resource folder with a string table
// whose every text is its own key, and a way to act inside a modal session.
#pragma once

#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <functional>
#include <vector>

// Points the bundle at a temporary resource folder for the life of the
// object: "KEY" = "KEY" for every key given, plus any extra entries, and an
// optional settings file.
class PopupResources {
public:
    explicit PopupResources(const std::vector<std::pair<QString, QString>>& strings = {});
    ~PopupResources();
    QString path() const { return m_dir.path(); }
    void writeSettingsXml(const QByteArray& xml);

private:
    QTemporaryDir m_dir;
    QString m_oldPath;
};

// Records what the windows hand to the desktop instead of opening it.
class RecordingDesktop {
public:
    RecordingDesktop();
    ~RecordingDesktop();
    std::vector<QUrl> opened;
    bool opens = true;  // what the desktop answers
};

// Runs step from the event loop as soon as it turns (inside the modal
// session that the caller starts next).
void WhenModal(std::function<void()> step, int delayMs = 0);
// Runs the event loop until done() answers true or timeoutMs pass; true when
// done.
bool SpinUntil(const std::function<bool()>& done, int timeoutMs = 3000);
