#include "ZRSelectTypeViewController.h"

#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "BundleResources.h"
#include "TCImageButton.h"
#include "TypeButton.h"

namespace {

struct KindLook {
    const char* images;  // prefix of the four pictures
    const char* caption;
    int tag;             // bit value 1 << tag, as the engine's type groups
};

// In the order of the page's fields: documents, music, archives, pictures,
// movies, other.
const KindLook kLooks[] = {
    {"icon_document", "PAGE_TWO_DOCUMENT_TITLE", 4}, {"icon_audio", "PAGE_TWO_MUSIC_TITLE", 1},
    {"icon_archive", "PAGE_TWO_ARCHIVE_TITLE", 3},   {"icon_graphics", "PAGE_TWO_PICTURE_TITLE", 0},
    {"icon_video", "PAGE_TWO_MOVIE_TITLE", 2},       {"icon_other", "PAGE_TWO_OTHER_TITLE", 5},
};

constexpr int kPageWidth = 1000;
constexpr int kPageHeight = 538;
constexpr int kKindWidth = 90;
constexpr int kKindHeight = 92;
constexpr int kKindGap = 40;
constexpr int kAllKinds = 6;

QString Text(const char* key) { return Bundle::LocalizedString(QString::fromLatin1(key)); }

}  // namespace

ZRSelectTypeViewController::ZRSelectTypeViewController(QWidget* parent) : QWidget(parent)
{
    resize(kPageWidth, kPageHeight);
    m_midlleLabel = new QLabel(this);
    m_midlleLabel->setGeometry(0, 60, kPageWidth, 30);
    m_midlleLabel->setAlignment(Qt::AlignCenter);

    const int rowWidth = kKinds * kKindWidth + (kKinds - 1) * kKindGap;
    int x = (kPageWidth - rowWidth) / 2;
    for (int i = 0; i < kKinds; ++i, x += kKindWidth + kKindGap) {
        m_kindButtons[i] = new TypeButton(QRect(x, 150, kKindWidth, kKindHeight), this);
        m_kindButtons[i]->setObjectName(QString::fromLatin1(kLooks[i].images));
    }

    m_alltypesButton = new QPushButton(this);
    m_alltypesButton->setFlat(true);
    m_alltypesButton->setGeometry(kPageWidth / 2 - 60, 290, 16, 16);
    m_alltypesButton->setIconSize(QSize(16, 16));
    m_alltypesLabel = new QLabel(this);
    m_alltypesLabel->setGeometry(kPageWidth / 2 - 40, 288, 200, 20);

    m_startScanButton = new TCImageButton(QRect(kPageWidth / 2 - 70, 400, 140, 40), this);
    awakeFromNib();
}

ZRSelectTypeViewController::~ZRSelectTypeViewController() = default;

void ZRSelectTypeViewController::awakeFromNib()
{
    m_alltypesLabel->setText(Text("PAGE_TWO_ALLTYPES"));
    m_midlleLabel->setText(Text("PAGE_TWO_MIDLLE_STRING"));

    m_startScanButton->setButtonEnabled(true);
    m_startScanButton->setImageFromFileNormalName(QStringLiteral("start_normal"), QStringLiteral("start_press"),
                                                  QStringLiteral("start_hover"), QStringLiteral("start_disable"));
    m_startScanButton->setTextWithName(Text("PAGE_TWO_START_BUTTON"), m_startScanButton->rect());
    connect(m_startScanButton, &QAbstractButton::clicked, this, [this] { beginToStartScan(); });

    for (int i = 0; i < kKinds; ++i) {
        TypeButton* button = m_kindButtons[i];
        const QString prefix = QString::fromLatin1(kLooks[i].images);
        button->setButtonEnabled(true);
        button->setImageFromFileNormalName(prefix + QStringLiteral("_normal"), prefix + QStringLiteral("_press"),
                                           prefix + QStringLiteral("_hover"), prefix + QStringLiteral("_disable"));
        button->setTextWithName(Text(kLooks[i].caption));
        connect(button, &QAbstractButton::clicked, this, [this, button] { selectButtonClick(button); });
    }
    connect(m_alltypesButton, &QAbstractButton::clicked, this, [this] { allTypesButtonClick(m_alltypesButton); });
}

int ZRSelectTypeViewController::tagOfButton(const TypeButton* button) const
{
    for (int i = 0; i < kKinds; ++i)
        if (m_kindButtons[i] == button)
            return kLooks[i].tag;
    return -1;
}

void ZRSelectTypeViewController::setAllTypesImage(const QString& name)
{
    m_alltypesImageName = name;
    m_alltypesButton->setIcon(QIcon(Bundle::ImageNamed(name)));
}

void ZRSelectTypeViewController::selectButtonClick(TypeButton* sender)
{
    if (!sender)
        return;
    sender->changeSelect(!sender->isSelect());
    changeAllSelectState(sender);
}

void ZRSelectTypeViewController::changeAllSelectState(TypeButton* sender)
{
    int tag = tagOfButton(sender);
    if (tag < 0)
        return;
    const QString value = QString::asprintf("%d", 1 << tag);
    if (sender->isSelect())
        m_selectArr.append(value);
    else
        m_selectArr.removeAll(value);

    const auto count = m_selectArr.size();
    if (count == 0) {
        setAllTypesImage(QStringLiteral("checkbox_no"));
        m_selectAllCount = 0;
    } else if (count == kAllKinds) {
        setAllTypesImage(QStringLiteral("checkbox_yes"));
        m_selectAllCount = 1;
    } else {
        setAllTypesImage(QStringLiteral("checkbox_election"));
        m_selectAllCount = 2;
    }
    m_startScanButton->setButtonEnabled(count != 0);
    if (m_delegate)
        m_delegate->changeContinueButtonState(m_selectArr);
}

void ZRSelectTypeViewController::allTypesButtonClick(QAbstractButton* /*sender*/)
{
    m_selectArr.clear();
    if (m_selectAllCount == 0 || m_selectAllCount == 2) {
        m_selectAllCount = 1;
        setAllTypesImage(QStringLiteral("checkbox_yes"));
        for (TypeButton* button : m_kindButtons)
            button->changeSelect(true);
        for (int bit = 0; bit < kAllKinds; ++bit)
            m_selectArr.append(QString::asprintf("%d", 1 << bit));
        m_startScanButton->setButtonEnabled(true);
    } else if (m_selectAllCount == 1) {
        m_selectAllCount = 0;
        setAllTypesImage(QStringLiteral("checkbox_no"));
        for (TypeButton* button : m_kindButtons)
            button->changeSelect(false);
        m_startScanButton->setButtonEnabled(false);
    }
    if (m_delegate)
        m_delegate->changeContinueButtonState(m_selectArr);
}

void ZRSelectTypeViewController::beginToStartScan()
{
    if (m_delegate)
        m_delegate->beginToStartScan();
}
