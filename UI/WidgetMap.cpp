#include "WidgetMap.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace {

constexpr int kRewriteIntervalMs = 250;
constexpr int kMaxRowsPerView = 200;
constexpr int kMaxColumns = 16;

QString Clean(QString text)
{
    for (QChar& c : text)
        if (c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return text;
}

QString TextOf(const QWidget* w)
{
    if (auto* button = qobject_cast<const QAbstractButton*>(w))
        return button->text();
    if (auto* label = qobject_cast<const QLabel*>(w))
        return label->text();
    if (auto* field = qobject_cast<const QLineEdit*>(w))
        return field->text().isEmpty() ? field->placeholderText() : field->text();
    if (auto* group = qobject_cast<const QGroupBox*>(w))
        return group->title();
    return {};
}

QString Rect(const QRect& r)
{
    return QStringLiteral("%1\t%2\t%3\t%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The part of w that is not hidden by its parents, in screen coordinates.
QRect ShownRect(const QWidget* w)
{
    const QRect local = w->visibleRegion().boundingRect();
    if (local.isEmpty())
        return {};
    return QRect(w->mapToGlobal(local.topLeft()), local.size());
}

void DescribeRows(QAbstractItemView* view, const QString& window, QStringList& lines)
{
    QAbstractItemModel* model = view->model();
    QWidget* port = view->viewport();
    if (!model || !port)
        return;
    const QRect shown = port->rect();
    const QString name =
        Clean(view->objectName().isEmpty() ? QString::fromLatin1(view->metaObject()->className()) : view->objectName());
    auto describe = [&](const QModelIndex& first, int row) {
        const int columns = std::min(model->columnCount(first.parent()), kMaxColumns);
        for (int column = 0; column < columns; ++column) {
            const QModelIndex cell = first.sibling(first.row(), column);
            const QRect r = view->visualRect(cell).intersected(shown);
            if (r.isEmpty())
                continue;
            lines << QStringLiteral("item\t%1\t%2\t%3\t%4\t%5\t%6")
                         .arg(window, name)
                         .arg(row)
                         .arg(column)
                         .arg(Clean(model->data(cell).toString()),
                              Rect(QRect(port->mapToGlobal(r.topLeft()), r.size())));
        }
    };
    int row = 0;
    if (auto* tree = qobject_cast<QTreeView*>(view)) {
        // The rows shown, top down, whatever their depth.
        for (QModelIndex index = tree->indexAt(QPoint(1, 1)); index.isValid() && row < kMaxRowsPerView;
             index = tree->indexBelow(index)) {
            if (tree->visualRect(index).top() > shown.bottom())
                break;
            describe(index.sibling(index.row(), 0), row++);
        }
        return;
    }
    const QModelIndex root = view->rootIndex();
    for (int r = 0, n = model->rowCount(root); r < n && row < kMaxRowsPerView; ++r) {
        const QModelIndex index = model->index(r, 0, root);
        if (view->visualRect(index).intersects(shown))
            describe(index, row++);
    }
}

}  // namespace

QString DescribeVisibleWidgets()
{
    QStringList lines;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || !top->isWindow())
            continue;
        const QString window = QString::number(top->winId());
        lines << QStringLiteral("window\t%1\t%2\t%3\t%4\t%5\t%6")
                     .arg(window, QString::fromLatin1(top->metaObject()->className()), Clean(top->objectName()),
                          Clean(top->windowTitle()), Rect(top->frameGeometry()),
                          top->isActiveWindow() ? QStringLiteral("1") : QStringLiteral("0"));
        for (QWidget* w : top->findChildren<QWidget*>()) {
            // A window of its own (a dialog made with this one as parent)
            // is listed as such.
            if (w->window() != top || !w->isVisible())
                continue;
            const QRect r = ShownRect(w);
            if (r.isEmpty())
                continue;
            lines << QStringLiteral("widget\t%1\t%2\t%3\t%4\t%5\t%6")
                         .arg(window, QString::fromLatin1(w->metaObject()->className()), Clean(w->objectName()),
                              Clean(TextOf(w)), Clean(w->toolTip()), Rect(r));
            if (auto* view = qobject_cast<QAbstractItemView*>(w))
                DescribeRows(view, window, lines);
        }
        // A menu's entries are no widgets: each is listed as one.
        if (auto* menu = qobject_cast<QMenu*>(top)) {
            for (QAction* action : menu->actions()) {
                const QRect r = menu->actionGeometry(action);
                if (action->isSeparator() || !action->isVisible() || r.isEmpty())
                    continue;
                lines << QStringLiteral("widget\t%1\tQAction\t%2\t%3\t\t%4")
                             .arg(window, Clean(action->objectName()), Clean(action->text().remove(QLatin1Char('&'))),
                                  Rect(QRect(menu->mapToGlobal(r.topLeft()), r.size())));
            }
        }
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void InstallWidgetMapFromEnvironment()
{
    const QString path = qEnvironmentVariable("VANTREL_WIDGET_MAP");
    if (path.isEmpty() || !qApp)
        return;
    auto* timer = new QTimer(qApp);
    auto last = std::make_shared<QString>();
    QObject::connect(timer, &QTimer::timeout, qApp, [path, last] {
        const QString now = DescribeVisibleWidgets();
        if (now == *last)
            return;
        // Written aside and renamed, so a reader never sees half a map.
        QFile file(path + QStringLiteral(".new"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return;
        file.write(now.toUtf8());
        file.close();
        if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) == 0)
            *last = now;
    });
    timer->start(kRewriteIntervalMs);
}
