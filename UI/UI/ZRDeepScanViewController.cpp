#include "ZRDeepScanViewController.h"

#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

#include "BundleResources.h"

namespace {

constexpr int kWidth = 260;
constexpr int kHeight = 56;

}  // namespace

void ZRDeepScanViewControllerDelegate::popupViewHidden() {}

ZRDeepScanViewController::ZRDeepScanViewController(QWidget* parent) : QWidget(parent)
{
    m_deepScanNodeLabel = new QLabel(this);
    m_deepScanNodeLabel->setWordWrap(true);
    QFont font = m_deepScanNodeLabel->font();
    font.setPixelSize(12);
    m_deepScanNodeLabel->setFont(font);
    // Light text: the pop-over draws a dark, translucent ground.
    QPalette palette = m_deepScanNodeLabel->palette();
    palette.setColor(QPalette::WindowText, QColor(196, 206, 232));
    m_deepScanNodeLabel->setPalette(palette);
    m_deepScanNodeLabel->setText(Bundle::LocalizedString(QStringLiteral("PAGE_FOUR_DEEPSCAN_NODE")));
    // The view grows with the text: every line of it shows.
    const int textWidth = kWidth - 40;
    const int textHeight = std::max(kHeight - 16, m_deepScanNodeLabel->heightForWidth(textWidth));
    resize(kWidth, textHeight + 16);
    m_deepScanNodeLabel->setGeometry(10, 8, textWidth, textHeight);
    m_closeButton = new QPushButton(this);
    m_closeButton->setGeometry(kWidth - 24, 6, 16, 16);
    m_closeButton->setFlat(true);
    m_closeButton->setIcon(QIcon(Bundle::ImageNamed(QStringLiteral("close_normal"))));
    connect(m_closeButton, &QPushButton::clicked, this, [this] { closeButtonAction(m_closeButton); });
}

void ZRDeepScanViewController::closeButtonAction(QObject* /*sender*/)
{
    if (m_delegate)
        m_delegate->popupViewHidden();
}
