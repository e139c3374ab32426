#pragma once
// The dark search field: a black rounded ground (corner radius a quarter of
// its height), a 16 x 16 search picture and a white insertion point.

#include <QLineEdit>
#include <QPixmap>
#include <QString>

class QPainter;

class THSearchFieldCell
{
public:
    THSearchFieldCell() { setUp(); }

    // Takes the picture "search_normal" at 16 x 16 for the search button,
    // pressed and not pressed.
    void setUp();
    QPixmap searchButtonImage() const { return m_image; }
    QPixmap searchButtonAlternateImage() const { return m_alternateImage; }

    // Fills the control's whole bounds (not only the cell frame) with the
    // black rounded ground.
    void drawInteriorWithFrame(QPainter& painter, const QRectF& cellFrame, QWidget* controlView);
    // Makes the editor's insertion point white; answers the editor.
    QLineEdit* setUpFieldEditorAttributes(QLineEdit* editor);

private:
    QPixmap m_image;
    QPixmap m_alternateImage;
};

class THSearchField : public QLineEdit
{
    Q_OBJECT
public:
    explicit THSearchField(QWidget* parent = nullptr);

    // The cell class is always THSearchFieldCell; a request for another is
    // ignored.
    static QString cellClass() { return QStringLiteral("THSearchFieldCell"); }
    static void setCellClass(const QString& ignored);

    THSearchFieldCell& cell() { return m_cell; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    THSearchFieldCell m_cell;
};
