#include "TrayIcon.h"

#include "kaComponent.h"

#include <QCursor>
#include <QMenu>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// The desktop's notification area, as the test decides.
class TestTrayIcon : public TTrayIcon {
public:
    using TTrayIcon::TTrayIcon;
    bool Available = true;

protected:
    bool TrayAvailable() const override { return Available; }
};

QIcon SomeIcon(Qt::GlobalColor color) {
    QPixmap pixmap(16, 16);
    pixmap.fill(color);
    return QIcon(pixmap);
}

class TrayIconTest : public ::testing::Test {
protected:
    TrayIconTest() : Tray(Own(&Form, new TestTrayIcon(&Form), "TrayIcon")) {
        Tray->SetIcon(SomeIcon(Qt::red));
    }

    void Activate(QSystemTrayIcon::ActivationReason reason) {
        emit Tray->SystemTrayIcon()->activated(reason);
    }

    // Counts the component's notifications and keeps the last position.
    void Listen() {
        QObject::connect(Tray, &TTrayIcon::OnDblClick, [this] { ++DblClicks; });
        QObject::connect(Tray, &TTrayIcon::OnRightClick, [this](QPoint position) {
            ++RightClicks;
            RightClickPosition = position;
        });
    }

    int DblClicks = 0;
    int RightClicks = 0;
    QPoint RightClickPosition;

    QWidget Form;
    TestTrayIcon* Tray;
};

TEST_F(TrayIconTest, ToolTipIsCutToSixtyTwoCharacters) {
    Tray->SetToolTip(QString(70, 'a'));
    EXPECT_EQ(Tray->ToolTip(), QString(62, 'a'));
    EXPECT_EQ(Tray->SystemTrayIcon()->toolTip(), QString(62, 'a'));

    Tray->SetToolTip(QString(62, 'b'));
    EXPECT_EQ(Tray->ToolTip(), QString(62, 'b'));
    Tray->SetToolTip(QStringLiteral("Tarvik"));
    EXPECT_EQ(Tray->ToolTip(), "Tarvik");
    Tray->SetToolTip(QString());
    EXPECT_TRUE(Tray->ToolTip().isEmpty());
}

TEST_F(TrayIconTest, ToolTipCutNeverSplitsACharacter) {
    // 61 letters and a character of two code units straddling the limit.
    const QString camera = QString::fromUtf8("\xF0\x9F\x93\xB7");
    Tray->SetToolTip(QString(61, 'a') + camera + "b");
    EXPECT_EQ(Tray->ToolTip(), QString(61, 'a'));
    Tray->SetToolTip(QString(60, 'a') + camera + "b");
    EXPECT_EQ(Tray->ToolTip(), QString(60, 'a') + camera);
}

TEST_F(TrayIconTest, ActiveShowsAndRemovesTheIconOnce) {
    EXPECT_FALSE(Tray->Active());
    EXPECT_FALSE(Tray->SystemTrayIcon()->isVisible());
    Tray->SetActive(true);
    Tray->SetActive(true);
    EXPECT_TRUE(Tray->Active());
    EXPECT_TRUE(Tray->SystemTrayIcon()->isVisible());
    Tray->SetActive(false);
    EXPECT_FALSE(Tray->SystemTrayIcon()->isVisible());
}

TEST_F(TrayIconTest, IconAndToolTipSetWhileInactiveAreKeptForActivation) {
    const QIcon green = SomeIcon(Qt::green);
    Tray->SetIcon(green);
    Tray->SetToolTip("Tarvik Client");
    Tray->SetActive(true);
    EXPECT_EQ(Tray->SystemTrayIcon()->icon().cacheKey(), green.cacheKey());
    EXPECT_EQ(Tray->SystemTrayIcon()->toolTip(), "Tarvik Client");
}

TEST_F(TrayIconTest, DoubleClickBringsAHiddenOwnerBackAndTellsAfterwards) {
    Listen();
    bool visibleWhenTold = false;
    QObject::connect(Tray, &TTrayIcon::OnDblClick, [&] { visibleWhenTold = Form.isVisible(); });
    ASSERT_FALSE(Form.isVisible());
    Activate(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(DblClicks, 1);
    EXPECT_TRUE(visibleWhenTold);
}

TEST_F(TrayIconTest, DoubleClickRestoresAMinimisedOwner) {
    Form.showMinimized();
    ASSERT_TRUE(Form.isMinimized());
    Activate(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(Form.isMinimized());
    EXPECT_TRUE(Form.isVisible());
}

TEST_F(TrayIconTest, RightClickOffersThePopupMenuAndReportsThePosition) {
    QMenu menu;
    Tray->SetPopupMenu(&menu);
    EXPECT_EQ(Tray->PopupMenu(), &menu);
    EXPECT_EQ(Tray->SystemTrayIcon()->contextMenu(), &menu);

    Listen();
    Activate(QSystemTrayIcon::Context);
    EXPECT_EQ(RightClicks, 1);
    EXPECT_EQ(RightClickPosition, QCursor::pos());
    EXPECT_FALSE(Form.isVisible());
}

TEST_F(TrayIconTest, SingleAndMiddleClicksDoNothing) {
    Listen();
    Activate(QSystemTrayIcon::Trigger);
    Activate(QSystemTrayIcon::MiddleClick);
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(DblClicks + RightClicks, 0);
}

TEST_F(TrayIconTest, HidingGoesToTheTrayOnlyWhereTheIconCanBeFound) {
    Form.show();
    Tray->SetActive(true);
    Tray->HideOwner();
    EXPECT_FALSE(Form.isVisible());

    Form.showNormal();
    Tray->Available = false;
    Tray->HideOwner();
    EXPECT_TRUE(Form.isVisible());
    EXPECT_TRUE(Form.isMinimized());

    Form.showNormal();
    Tray->Available = true;
    Tray->SetActive(false);
    Tray->HideOwner();
    EXPECT_TRUE(Form.isVisible());
    EXPECT_TRUE(Form.isMinimized());
}

TEST(TrayIconOwner, WithoutOwnerTheParentWidgetsWindowIsTheOwner) {
    QWidget window;
    QWidget panel(&window);
    TTrayIcon tray(&panel);
    EXPECT_EQ(tray.OwnerWindow(), &window);
    TTrayIcon orphan;
    EXPECT_EQ(orphan.OwnerWindow(), nullptr);
    orphan.HideOwner();
    orphan.BringOwnerBack();
}

} // namespace
