#pragma once
// The search box of the results window: a borderless text field, a search
// button and a clear button. It tells its delegate when a search is to run:
// with the text (possibly empty) on Return or the search button, with a null
// string when the box was emptied.

#include <QPointer>
#include <QString>
#include <QWidget>

#include <QAbstractButton>
#include <QLineEdit>

class NewSearchTextFiledDelegate
{
public:
    virtual ~NewSearchTextFiledDelegate() = default;
    // key: the text to search for (may be empty), or a null QString
    // (key.isNull()) when the box was emptied and the full result should
    // come back.
    virtual void doSearchWithKey(const QString& /*key*/) {}
};

class NewSearchTextFiled : public QWidget
{
    Q_OBJECT
public:
    // Builds the field and the two buttons; styles the field 0.3 s later.
    explicit NewSearchTextFiled(QWidget* parent = nullptr);
    ~NewSearchTextFiled() override;

    void setNormalValue();
    void setEnabled(bool enabled);
    // Empties the box and hides the clear button without telling the delegate.
    void setTitleWithMnemonic(const QString& ignored);

    // Text field delegate operations.
    void controlTextDidChange();
    // movement: 16 for the Return key, anything else otherwise.
    void controlTextDidEndEditing(int movement);

    void doSearchAction(QObject* sender = nullptr);
    void clearTextFieldAction(QObject* sender = nullptr);

    NewSearchTextFiledDelegate* searchDelegate() const { return m_searchDelegate; }
    void setSearchDelegate(NewSearchTextFiledDelegate* delegate) { m_searchDelegate = delegate; }
    QLineEdit* textField() const { return m_textField; }
    void setTextField(QLineEdit* field) { m_textField = field; }
    QAbstractButton* searchButton() const { return m_searchButton; }
    void setSearchButton(QAbstractButton* button) { m_searchButton = button; }
    QAbstractButton* clearButton() const { return m_clearButton; }
    void setClearButton(QAbstractButton* button) { m_clearButton = button; }

    // The text movement value of the Return key.
    static constexpr int kReturnTextMovement = 16;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sendSearch(const QString& key);

    QPointer<QLineEdit> m_textField;
    QPointer<QAbstractButton> m_searchButton;
    QPointer<QAbstractButton> m_clearButton;
    NewSearchTextFiledDelegate* m_searchDelegate = nullptr;
    bool m_styled = false;
};

// Black rounded backdrop (corner radius 15).
class NewView : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent* event) override;
};
