#include "NewSearchTextFiled.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>

#include "BundleResources.h"

namespace
{
// The text of the field as a search key: never null (an empty box searches
// for the empty key; only "emptied" is told by a null key).
QString TypedKey(const QLineEdit* field)
{
    QString key = field->text();
    if (key.isNull())
        key = QStringLiteral("");
    return key;
}
}

NewSearchTextFiled::NewSearchTextFiled(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(2);

    auto* field = new QLineEdit(this);
    field->setObjectName(QStringLiteral("textField"));
    auto* clear = new QPushButton(this);
    clear->setObjectName(QStringLiteral("clearButton"));
    clear->setFlat(true);
    clear->setIcon(Bundle::ImageNamed(QStringLiteral("search_clear")));
    clear->setFixedSize(16, 16);
    clear->hide();
    auto* search = new QPushButton(this);
    search->setObjectName(QStringLiteral("searchButton"));
    search->setFlat(true);
    search->setIcon(Bundle::ImageNamed(QStringLiteral("search_normal")));
    search->setFixedSize(16, 16);
    layout->addWidget(field, 1);
    layout->addWidget(clear);
    layout->addWidget(search);

    m_textField = field;
    m_clearButton = clear;
    m_searchButton = search;

    // Only the user's own edits count as a change of the text.
    connect(field, &QLineEdit::textEdited, this, [this] { controlTextDidChange(); });
    connect(field, &QLineEdit::returnPressed, this, [this] { controlTextDidEndEditing(kReturnTextMovement); });
    field->installEventFilter(this);
    connect(search, &QPushButton::clicked, this, [this, search] { doSearchAction(search); });
    connect(clear, &QPushButton::clicked, this, [this, clear] { clearTextFieldAction(clear); });

    // The field keeps its first look for 0.3 s, then takes the box's style.
    QTimer::singleShot(300, this, [this] { setNormalValue(); });
}

NewSearchTextFiled::~NewSearchTextFiled()
{
    if (m_textField)
        m_textField->removeEventFilter(this);
    m_searchDelegate = nullptr;
}

void NewSearchTextFiled::setNormalValue()
{
    if (!m_textField)
        return;
    m_textField->setFrame(false);
    m_textField->setAutoFillBackground(false);
    m_textField->setAttribute(Qt::WA_TranslucentBackground, true);
    QPalette palette = m_textField->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    QColor placeholder(94, 98, 120);
    placeholder.setAlphaF(0.98f);
    palette.setColor(QPalette::PlaceholderText, placeholder);
    // The insertion point follows the text colour: white on the dark bar.
    palette.setColor(QPalette::Text, Qt::white);
    m_textField->setPalette(palette);
    m_textField->setPlaceholderText(QStringLiteral("Search"));
    m_styled = true;
}

void NewSearchTextFiled::setEnabled(bool enabled)
{
    if (m_textField)
        m_textField->setEnabled(enabled);
    if (m_searchButton)
        m_searchButton->setEnabled(enabled);
    if (m_clearButton)
        m_clearButton->setEnabled(enabled);
}

void NewSearchTextFiled::setTitleWithMnemonic(const QString&)
{
    if (m_clearButton)
        m_clearButton->hide();
    if (m_textField)
        m_textField->setText(QString());
}

void NewSearchTextFiled::controlTextDidChange()
{
    if (!m_textField)
        return;
    if (m_textField->text().isEmpty()) {
        if (m_clearButton)
            m_clearButton->hide();
        sendSearch(QString());  // emptied: the full result comes back
    } else if (m_clearButton) {
        m_clearButton->show();
    }
}

void NewSearchTextFiled::controlTextDidEndEditing(int movement)
{
    if (movement != kReturnTextMovement || !m_textField)
        return;
    sendSearch(TypedKey(m_textField));
    QPalette palette = m_textField->palette();
    palette.setColor(QPalette::Base, Qt::black);
    m_textField->setPalette(palette);
}

void NewSearchTextFiled::doSearchAction(QObject*)
{
    if (m_textField)
        sendSearch(TypedKey(m_textField));
}

void NewSearchTextFiled::clearTextFieldAction(QObject*)
{
    if (!m_textField)
        return;
    const bool hadText = !m_textField->text().isEmpty();
    m_textField->setText(QString());
    if (m_clearButton)
        m_clearButton->hide();
    if (hadText)
        sendSearch(QString());
}

void NewSearchTextFiled::sendSearch(const QString& key)
{
    if (!m_searchDelegate)
        return;
    m_searchDelegate->doSearchWithKey(key);
}

bool NewSearchTextFiled::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_textField && event->type() == QEvent::FocusOut)
        controlTextDidEndEditing(0);
    return QWidget::eventFilter(watched, event);
}

void NewView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 15, 15);
    painter.fillPath(path, Qt::black);
}
