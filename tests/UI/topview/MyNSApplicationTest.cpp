// The editing key combinations become edit actions of the focused widget (or
// of the first of its parents that has the action) before the widget sees
// the key; every other key press reaches the widget as usual.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <vector>

#include "MyNSApplication.h"

namespace {

// What the application object does first with every event, here installed
// on the test's own application object.
class KeyEquivalentFilter : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override { return MyNSApplication::sendKeyEquivalent(event); }
};

bool IsModifierKey(int key)
{
    return key == Qt::Key_Control || key == Qt::Key_Shift || key == Qt::Key_Alt || key == Qt::Key_Meta;
}

// Counts the key presses (other than of the modifier keys themselves) that
// reach a widget.
class KeySpy : public QObject {
public:
    int presses = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && !IsModifierKey(static_cast<QKeyEvent*>(event)->key()))
            ++presses;
        return false;
    }
};

}  // namespace

// A panel with an own cut action and a plain focusable child.
class CuttingPanel : public QWidget {
    Q_OBJECT
public:
    int cuts = 0;
public slots:
    void cut() { ++cuts; }
};

class PlainField : public QWidget {
public:
    std::vector<int> keys;
    PlainField() { setFocusPolicy(Qt::StrongFocus); }

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (!IsModifierKey(event->key()))
            keys.push_back(event->key());
    }
};

class MyNSApplicationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qApp->installEventFilter(&m_filter);
        m_edit = new QLineEdit(&m_window);
        m_field = new PlainField();
        m_field->setParent(&m_panel);
        auto* layout = new QVBoxLayout(&m_window);
        layout->addWidget(m_edit);
        layout->addWidget(&m_panel);
        m_panel.setMinimumSize(50, 20);
        m_field->resize(40, 15);
        m_other = new PlainField();
        layout->addWidget(m_other);
        m_window.show();
        m_window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&m_window));
        m_edit->setFocus();
        m_edit->installEventFilter(&m_spy);
        QApplication::clipboard()->setText(QString());
    }
    void TearDown() override
    {
        qApp->removeEventFilter(&m_filter);
        m_panel.setParent(nullptr);
    }

    KeyEquivalentFilter m_filter;
    KeySpy m_spy;
    QWidget m_window;
    CuttingPanel m_panel;
    QLineEdit* m_edit = nullptr;
    PlainField* m_field = nullptr;
    PlainField* m_other = nullptr;
};

TEST_F(MyNSApplicationTest, EditingCombinationsBecomeActionsOfTheFocusedField)
{
    m_edit->setText(QStringLiteral("hello world"));
    QTest::keyClick(m_edit, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(m_edit->selectedText(), QStringLiteral("hello world"));

    m_edit->setSelection(0, 5);
    QTest::keyClick(m_edit, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("hello"));
    // With Caps Lock the key comes as a capital letter; it still copies.
    QApplication::clipboard()->setText(QString());
    QTest::keyClick(m_edit, 'C', Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("hello"));

    m_edit->setSelection(5, 6);
    QTest::keyClick(m_edit, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(m_edit->text(), QStringLiteral("hello"));
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral(" world"));

    m_edit->setCursorPosition(0);
    QTest::keyClick(m_edit, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(m_edit->text(), QStringLiteral(" worldhello"));

    QTest::keyClick(m_edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(m_edit->text(), QStringLiteral("hello"));
    QTest::keyClick(m_edit, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(m_edit->text(), QStringLiteral(" worldhello"));

    // All of them were used up before the field saw a key.
    EXPECT_EQ(m_spy.presses, 0);
}

TEST_F(MyNSApplicationTest, OtherCombinationsReachTheFieldUnchanged)
{
    m_edit->setText(QStringLiteral("abc"));
    m_edit->selectAll();
    // Control with Alt is not an editing combination.
    QTest::keyClick(m_edit, Qt::Key_C, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(m_spy.presses, 1);
    EXPECT_EQ(QApplication::clipboard()->text(), QString());

    // Shift and z without Control types a capital Z.
    m_edit->setText(QString());
    QTest::keyClick(m_edit, 'Z', Qt::ShiftModifier);
    EXPECT_EQ(m_edit->text(), QStringLiteral("Z"));
    // Control, Shift and x is no combination of ours either.
    QTest::keyClick(m_edit, Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(m_spy.presses, 3);
}

TEST_F(MyNSApplicationTest, ActionGoesUpTheFocusChainOrTheKeyGoesOn)
{
    // The focused child has no cut action; its parent panel has.
    m_field->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), m_field);
    QTest::keyClick(m_field, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(m_panel.cuts, 1);
    EXPECT_TRUE(m_field->keys.empty());
    // Nobody up the chain can copy: the key press reaches the field.
    QTest::keyClick(m_field, Qt::Key_C, Qt::ControlModifier);
    ASSERT_EQ(m_field->keys.size(), 1u);
    EXPECT_EQ(m_field->keys[0], Qt::Key_C);

    // A field with no cut anywhere above it gets the key itself.
    m_other->setFocus();
    QTest::keyClick(m_other, Qt::Key_X, Qt::ControlModifier);
    ASSERT_EQ(m_other->keys.size(), 1u);
    EXPECT_EQ(m_panel.cuts, 1);
}

TEST_F(MyNSApplicationTest, KeysSentByCodeAreNotTurnedIntoActions)
{
    m_edit->setText(QStringLiteral("abc"));
    m_edit->deselect();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::ControlModifier);
    EXPECT_FALSE(MyNSApplication::sendKeyEquivalent(&press));
    QEvent other(QEvent::MouseButtonPress);
    EXPECT_FALSE(MyNSApplication::sendKeyEquivalent(&other));
    EXPECT_FALSE(MyNSApplication::sendKeyEquivalent(nullptr));
    EXPECT_EQ(m_edit->selectedText(), QString());
}

#include "MyNSApplicationTest.moc"
