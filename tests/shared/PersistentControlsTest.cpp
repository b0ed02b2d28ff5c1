#include "ApplicationErrors.h"
#include "EkaError.h"
#include "TempProgramDir.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaCheckBox.h"
#include "kaComboBox.h"
#include "kaEdit.h"
#include "kaGeneral.h"
#include "kaTrackBar.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace {

class PersistentControlsTest : public TempProgramDir {
protected:
    static QString Stored(const QString& section, const QString& key) {
        return CfgIniFile()->ReadString(section, key, "<none>");
    }
    static void Store(const QString& section, const QString& key, const QString& value) {
        CfgIniFile()->WriteString(section, key, value);
    }
    static void LoseFocus(QWidget* widget) {
        QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
        QCoreApplication::sendEvent(widget, &event);
    }
    static std::unique_ptr<QWidget> NewForm(const QString& name = "Form") {
        auto form = std::make_unique<QWidget>();
        SetOwner(form.get(), nullptr, name);
        return form;
    }
};

// One form with every remanent control, as a form description would make it.
struct ControlsForm {
    std::unique_ptr<QWidget> Form = std::make_unique<QWidget>();
    TkaEdit* Edit = Own(Form.get(), new TkaEdit(Form.get()), "Edit");
    TkaCheckBox* Check = Own(Form.get(), new TkaCheckBox(Form.get()), "Check");
    TkaComboBox* Combo = Own(Form.get(), new TkaComboBox(Form.get()), "Combo");
    TkaTrackBar* Bar = Own(Form.get(), new TkaTrackBar(Form.get()), "Bar");
    int EditChanges = 0, Clicks = 0, ComboChanges = 0, BarChanges = 0;

    ControlsForm() {
        SetOwner(Form.get(), nullptr, "Form");
        Edit->setText("designed");
        Check->setChecked(true);
        Combo->addItems({"Alpha", "Beta", "Gamma"});
        Combo->setCurrentIndex(1);
        Bar->SetMax(10);
        Bar->SetPosition(3);
        for (TkaPersistentControl* c :
             {static_cast<TkaPersistentControl*>(Edit), static_cast<TkaPersistentControl*>(Check),
              static_cast<TkaPersistentControl*>(Combo), static_cast<TkaPersistentControl*>(Bar)})
            c->SetRemanent(true);
        LoadComponent(Form.get());
        QObject::connect(Edit, &QLineEdit::textChanged, [this] { ++EditChanges; });
        QObject::connect(Check, &TkaCheckBox::OnClick, [this] { ++Clicks; });
        QObject::connect(Combo, &QComboBox::currentIndexChanged, [this] { ++ComboChanges; });
        QObject::connect(Bar, &TkaTrackBar::OnChange, [this] { ++BarChanges; });
    }
};

TEST_F(PersistentControlsTest, FirstStartKeepsDesignedValuesAndCreatesTheFileAtTheFirstWrite) {
    {
        ControlsForm f;
        EXPECT_EQ(RemanentControls(), (QList<QObject*>{f.Edit, f.Check, f.Combo, f.Bar}));
        RestoreRemanentControls();
        EXPECT_EQ(f.Edit->text(), "designed");
        EXPECT_TRUE(f.Check->isChecked());
        EXPECT_EQ(f.Combo->currentText(), "Beta");
        EXPECT_EQ(f.Combo->count(), 3);
        EXPECT_EQ(f.Bar->Position(), 3);
        EXPECT_EQ(f.BarChanges, 1) << "the track bar tells its owner even without a stored value";
        EXPECT_EQ(f.EditChanges + f.Clicks + f.ComboChanges, 0);
        EXPECT_TRUE(QDir(PathOf("Cfg")).exists());
        EXPECT_FALSE(QFile::exists(CfgIniFile()->FileName()));
        // Only the edit counts its designed text as a change.
        EXPECT_TRUE(f.Edit->Modified());
        EXPECT_FALSE(f.Check->Modified() || f.Combo->Modified() || f.Bar->Modified());
    }
    EXPECT_TRUE(QFile::exists(CfgIniFile()->FileName()));
    EXPECT_EQ(Stored("String", "Form.Edit"), "designed");
    EXPECT_EQ(CfgIniFile()->ReadSections(), QStringList{"String"});
}

TEST_F(PersistentControlsTest, RestoreTakesStoredValuesAndRunsTheOwnersHandlersUnmodified) {
    Store("String", "Form.Edit", "stored");
    Store("Boolean", "Form.Check", "0");
    Store("String", "form.combo", "gAMMA");
    Store("Integer", "Form.Bar", "0x7");
    ControlsForm f;
    RestoreRemanentControls();
    EXPECT_EQ(f.Edit->text(), "stored");
    EXPECT_FALSE(f.Check->isChecked());
    EXPECT_EQ(f.Combo->currentText(), "Gamma") << "an item equal but for letter case is selected";
    EXPECT_EQ(f.Combo->count(), 3);
    EXPECT_EQ(f.Bar->Position(), 7);
    EXPECT_EQ(f.EditChanges, 1);
    EXPECT_EQ(f.Clicks, 1);
    EXPECT_EQ(f.ComboChanges, 1);
    EXPECT_EQ(f.BarChanges, 1);
    // The edit's designed text was modified before; the restored text stays so.
    for (const TkaPersistentControl* c :
         {static_cast<TkaPersistentControl*>(f.Check), static_cast<TkaPersistentControl*>(f.Combo),
          static_cast<TkaPersistentControl*>(f.Bar)}) {
        EXPECT_FALSE(c->Modified());
        EXPECT_FALSE(c->Restoring());
    }
}

TEST_F(PersistentControlsTest, EditWritesEveryTextButOnlyARemanentOneReadsItBack) {
    auto form = NewForm();
    auto* plain = Own(form.get(), new TkaEdit(form.get()), "Plain");
    LoadComponent(form.get());
    EXPECT_TRUE(RemanentControls().isEmpty());
    plain->setText("typed");
    LoseFocus(plain);
    EXPECT_EQ(Stored("String", "Form.Plain"), "typed");
    EXPECT_FALSE(plain->Modified());

    plain->setText("other");
    plain->RestoreRemanent();
    EXPECT_EQ(plain->text(), "other") << "a non-remanent edit never reads its value";

    // Restored text does not count as the user's, later program changes do.
    auto* kept = Own(form.get(), new TkaEdit(form.get()), "Kept");
    kept->SetRemanent(true);
    Store("String", "Form.Kept", "from file");
    kept->RestoreRemanent();
    EXPECT_EQ(kept->text(), "from file");
    EXPECT_FALSE(kept->Modified());
    kept->setText("changed");
    EXPECT_TRUE(kept->Modified());
}

TEST_F(PersistentControlsTest, CheckBoxCountsChangesOnlyWhenRemanentAndLoaded) {
    auto form = NewForm();
    auto* box = Own(form.get(), new TkaCheckBox(form.get()), "Box");
    auto* plain = Own(form.get(), new TkaCheckBox(form.get()), "Plain");
    box->SetRemanent(true);
    box->setChecked(true);
    EXPECT_FALSE(box->Modified()) << "designed state while loading";
    LoadComponent(form.get());
    plain->setChecked(true);
    EXPECT_FALSE(plain->Modified());

    int clicks = 0;
    QObject::connect(box, &TkaCheckBox::OnClick, [&] { ++clicks; });
    box->setChecked(false);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(box->Modified());
    // Closed without the focus ever leaving the box: written at destruction.
    form.reset();
    EXPECT_EQ(Stored("Boolean", "Form.Box"), "0");
    EXPECT_EQ(Stored("Boolean", "Form.Plain"), "<none>");
}

TEST_F(PersistentControlsTest, ComboBoxSavesUserAndSelectItemIndexChoicesOnly) {
    auto form = NewForm();
    auto* combo = Own(form.get(), new TkaComboBox(form.get()), "Combo");
    combo->addItems({"A", "B", "C"});
    combo->SetRemanent(true);
    LoadComponent(form.get());

    combo->setCurrentIndex(2);
    EXPECT_FALSE(combo->Modified()) << "plain program selections are not saved";
    combo->SelectItemIndex(2);
    EXPECT_FALSE(combo->Modified()) << "same index: nothing to do";
    combo->SelectItemIndex(0);
    EXPECT_TRUE(combo->Modified());
    EXPECT_EQ(combo->currentText(), "A");
    LoseFocus(combo);
    EXPECT_EQ(Stored("String", "Form.Combo"), "A");

    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(combo, &down);
    EXPECT_EQ(combo->currentText(), "B");
    EXPECT_TRUE(combo->Modified()) << "a selection by the user";
    LoseFocus(combo);
    EXPECT_EQ(Stored("String", "Form.Combo"), "B");

    combo->setEditable(true);
    combo->setEditText("program");
    EXPECT_FALSE(combo->Modified());
}

TEST_F(PersistentControlsTest, ComboBoxAppendsAStoredTextThatIsNoItem) {
    Store("String", "Form.Combo", "Delta");
    auto form = NewForm();
    auto* combo = Own(form.get(), new TkaComboBox(form.get()), "Combo");
    auto* empty = Own(form.get(), new TkaComboBox(form.get()), "Empty");
    combo->addItems({"Alpha", "Beta"});
    combo->SetRemanent(true);
    empty->SetRemanent(true);
    LoadComponent(form.get());
    int changes = 0;
    QObject::connect(combo, &QComboBox::currentIndexChanged, [&] { ++changes; });
    RestoreRemanentControls();
    EXPECT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(2), "Delta");
    EXPECT_EQ(combo->currentIndex(), 2);
    EXPECT_EQ(changes, 1);
    EXPECT_FALSE(combo->Modified());
    // Restoring again finds the appended item instead of adding it twice.
    combo->RestoreRemanent();
    EXPECT_EQ(combo->count(), 3);
    // Nothing stored and nothing shown: no blank item.
    EXPECT_EQ(empty->count(), 0);
    EXPECT_EQ(empty->currentIndex(), -1);
}

TEST_F(PersistentControlsTest, TrackBarClampsTheStoredPositionAndNotifiesOnlyOnMoves) {
    auto form = NewForm();
    auto* bar = Own(form.get(), new TkaTrackBar(form.get()), "Bar");
    auto* top = Own(form.get(), new TkaTrackBar(form.get()), "Top");
    for (TkaTrackBar* b : {bar, top}) {
        b->SetRemanent(true);
        b->SetMin(-5);
        b->SetMax(10);
    }
    bar->SetPosition(2);
    top->SetPosition(10);
    EXPECT_EQ(bar->orientation(), Qt::Horizontal);
    EXPECT_FALSE(bar->Modified()) << "designed position while loading";
    LoadComponent(form.get());
    Store("Integer", "Form.Bar", "-40");
    Store("Integer", "Form.Top", "99");
    int barChanges = 0, topChanges = 0;
    QObject::connect(bar, &TkaTrackBar::OnChange, [&] { ++barChanges; });
    QObject::connect(top, &TkaTrackBar::OnChange, [&] { ++topChanges; });
    RestoreRemanentControls();
    EXPECT_EQ(bar->Position(), -5);
    EXPECT_EQ(barChanges, 1);
    EXPECT_EQ(top->Position(), 10);
    EXPECT_EQ(topChanges, 0) << "clamped to the old position: no move, no notification";
    EXPECT_FALSE(bar->Modified());

    bar->SetPosition(4);
    EXPECT_TRUE(bar->Modified());
    LoseFocus(bar);
    EXPECT_EQ(Stored("Integer", "Form.Bar"), "4");
}

TEST_F(PersistentControlsTest, RemanentActionRestoresWhileLoadingAndSavesAtTheUpdatePass) {
    Store("Boolean", "Form.Toggle", "1");
    auto form = NewForm();
    auto* list = Own(form.get(), new TkaActionList(form.get()), "ActionList");
    auto* toggle = Own(form.get(), new TkaAction(list), "Toggle");
    auto* plain = Own(form.get(), new TkaAction(list), "Plain");
    for (TkaAction* a : {toggle, plain})
        a->setCheckable(true);
    toggle->SetRemanent(true);
    EXPECT_EQ(list->Actions(), (QList<TkaAction*>{toggle, plain}));
    LoadComponent(form.get());
    EXPECT_TRUE(toggle->isChecked());
    EXPECT_TRUE(toggle->SavedChecked());
    EXPECT_TRUE(toggle->RestoreDone());
    EXPECT_FALSE(toggle->Restoring());
    EXPECT_FALSE(plain->RestoreDone());

    // The update handler runs first; what it sets is saved in the same pass.
    QStringList order;
    QObject::connect(toggle, &TkaAction::OnUpdate, [&] {
        order.append("update");
        toggle->setChecked(false);
    });
    list->UpdateActions();
    EXPECT_EQ(order, QStringList{"update"});
    EXPECT_EQ(Stored("Boolean", "Form.Toggle"), "0");
    EXPECT_FALSE(toggle->SavedChecked());

    plain->setChecked(true);
    list->UpdateActions();
    EXPECT_EQ(Stored("Boolean", "Form.Plain"), "<none>");
}

TEST_F(PersistentControlsTest, ActionListRunsItsUpdatePassFromTheEventLoop) {
    auto form = NewForm();
    auto* list = Own(form.get(), new TkaActionList(form.get()), "ActionList");
    auto* toggle = Own(form.get(), new TkaAction(list), "Toggle");
    toggle->setCheckable(true);
    toggle->SetRemanent(true);
    LoadComponent(form.get());
    toggle->trigger();
    QEventLoop loop;
    QTimer::singleShot(3 * TkaActionList::UpdateInterval, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(Stored("Boolean", "Form.Toggle"), "1");
}

// Also between the timer's ticks: an action never shows a stale state for
// long enough to be clicked. What a pass raises there is reported.
TEST_F(PersistentControlsTest, ActionListUpdatesWheneverTheEventLoopGoesIdle) {
    auto form = NewForm();
    auto* list = Own(form.get(), new TkaActionList(form.get()), "ActionList");
    auto* action = Own(form.get(), new TkaAction(list), "Action");
    int passes = 0;
    bool fail = false;
    QObject::connect(action, &TkaAction::OnUpdate, [&] {
        ++passes;
        if (fail)
            throw EkaError("update failed");
    });
    QStringList reported;
    const TApplicationErrorHandler previous =
        SetApplicationErrorHandler([&](const std::exception& error) { reported << error.what(); });
    const auto idle = [] {
        QEventLoop loop;
        QTimer::singleShot(TkaActionList::UpdateInterval / 10, &loop, &QEventLoop::quit);
        loop.exec();
    };
    idle();
    EXPECT_GT(passes, 0);
    fail = true;
    idle();
    SetApplicationErrorHandler(previous);
    ASSERT_FALSE(reported.isEmpty());
    EXPECT_EQ(reported.first(), "update failed");
}

// A page hidden behind another skips the idle turns: only the timer, a
// triggered action or showing the page again brings a pass.
TEST_F(PersistentControlsTest, AHiddenPageUpdatesOnItsTimerAndOnStateChangesOnly) {
    auto form = NewForm();
    auto* page = new QWidget(form.get());
    auto* list = Own(page, new TkaActionList(page), "ActionList");
    auto* action = Own(page, new TkaAction(list), "Action");
    int passes = 0;
    QObject::connect(action, &TkaAction::OnUpdate, [&] { ++passes; });
    // Five turns wait five times at least; the timer may add one pass.
    const auto idleTurns = [&](int milliseconds = 2) {
        passes = 0;
        for (int i = 0; i < 5; ++i) {
            QEventLoop loop;
            QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
            loop.exec();
        }
        return passes;
    };
    form->show();
    EXPECT_GE(idleTurns(), 5) << "a page in sight is updated whenever the loop goes idle";
    page->hide();
    idleTurns();
    EXPECT_LE(idleTurns(), 1);
    action->trigger();
    const int afterTrigger = idleTurns();
    EXPECT_TRUE(afterTrigger == 1 || afterTrigger == 2) << "what an action did is shown";
    const int timerPasses = idleTurns(TkaActionList::UpdateInterval / 2);
    EXPECT_TRUE(timerPasses >= 1 && timerPasses <= 3) << "the timer keeps a hidden page current";
}

TEST_F(PersistentControlsTest, ComponentsOnOnePathShareOneValue) {
    auto first = NewForm("Setup");
    auto* unnamed = Own(first.get(), new QWidget(first.get()), "");
    auto* edit = Own(unnamed, new TkaEdit(unnamed), "Port");
    auto* anonymous = Own(first.get(), new TkaCheckBox(first.get()), "");
    LoadComponent(first.get());
    edit->setText("4032");
    LoseFocus(edit);
    anonymous->SetRemanent(true);
    anonymous->setChecked(true);
    LoseFocus(anonymous);
    EXPECT_EQ(Stored("Boolean", "Setup"), "1") << "an unnamed component takes its owner's path";

    auto second = NewForm("Setup");
    auto* twin = Own(second.get(), new TkaEdit(second.get()), "Port");
    twin->SetRemanent(true);
    LoadComponent(second.get());
    RestoreRemanentControls();
    EXPECT_EQ(twin->text(), "4032");
}

TEST_F(PersistentControlsTest, RestoreFollowsRegistrationOrderAcrossForms) {
    QStringList order;
    auto first = NewForm("First");
    auto* bar = Own(first.get(), new TkaTrackBar(first.get()), "Bar");
    auto* edit = Own(first.get(), new TkaEdit(first.get()), "Edit");
    auto second = NewForm("Second");
    auto* late = Own(second.get(), new TkaTrackBar(second.get()), "Late");
    for (TkaPersistentControl* c :
         {static_cast<TkaPersistentControl*>(bar), static_cast<TkaPersistentControl*>(edit),
          static_cast<TkaPersistentControl*>(late)})
        c->SetRemanent(true);
    Store("String", "First.Edit", "x");
    QObject::connect(bar, &TkaTrackBar::OnChange, [&] { order.append("bar"); });
    QObject::connect(edit, &QLineEdit::textChanged, [&] { order.append("edit"); });
    QObject::connect(late, &TkaTrackBar::OnChange, [&] { order.append("late"); });
    LoadComponent(second.get());
    LoadComponent(first.get());
    bar->Loaded(); // a second registration is ignored
    RestoreRemanentControls();
    EXPECT_EQ(order, (QStringList{"late", "bar", "edit"}));
}

TEST_F(PersistentControlsTest, DestroyedFormsWriteUnderTheFullPath) {
    auto form = NewForm("Outer");
    auto* frame = Own(form.get(), new QWidget(form.get()), "Frame");
    auto* bar = Own(frame, new TkaTrackBar(frame), "Bar");
    bar->SetRemanent(true);
    LoadComponent(form.get());
    bar->SetPosition(6);
    form.reset();
    EXPECT_EQ(Stored("Integer", "Outer.Frame.Bar"), "6");
    EXPECT_EQ(Stored("Integer", "Bar"), "<none>");
}

TEST_F(PersistentControlsTest, RefusedWritesKeepTheValueModifiedAndNeverLeaveADestructor) {
    auto form = NewForm();
    auto* edit = Own(form.get(), new TkaEdit(form.get()), "Edit");
    LoadComponent(form.get());
    edit->setText("unsaved");
    const QString file = CfgIniFile()->FileName();
    SetCfgIniFile(nullptr);
    // The refusal escapes the focus event and reaches the application's handler.
    QStringList handled;
    const TApplicationErrorHandler previous = SetApplicationErrorHandler(
        [&handled](const std::exception& error) { handled.append(error.what()); });
    LoseFocus(edit);
    SetApplicationErrorHandler(previous);
    EXPECT_EQ(handled, QStringList{"kaGeneral.CfgIniFile=nil"});
    EXPECT_TRUE(edit->Modified()) << "tried again when the focus leaves next";
    EXPECT_NO_FATAL_FAILURE(form.reset());
    SetCfgIniFile(std::make_unique<TIniFile>(file));
    EXPECT_FALSE(QFile::exists(file));
}

} // namespace
