#include "kaHotkey.h"

#include "kaLabel.h"
#include "kaTrackbarFrame.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A form owning its controls, with an accelerator component created last.
class HotkeyForm {
public:
    HotkeyForm() : Form(std::make_unique<QWidget>()) { SetOwner(Form.get(), nullptr, "Form"); }

    template <class T = QPushButton> T* Add(const QString& caption, QWidget* parent = nullptr) {
        auto* control = new T(caption, parent != nullptr ? parent : Form.get());
        return Own(Form.get(), control, QStringLiteral("Control%1").arg(++Count));
    }

    TkaHotkey& Hotkey() {
        if (FHotkey == nullptr)
            FHotkey = Own(Form.get(), new TkaHotkey(Form.get()), "kaHotkey1");
        return *FHotkey;
    }

    void Generate() { Hotkey().Generate(); }

    std::unique_ptr<QWidget> Form;

private:
    TkaHotkey* FHotkey = nullptr;
    int Count = 0;
};

TEST(kaHotkeyTest, CaptionsGetTheFirstFreeCharacterInTreeOrder) {
    HotkeyForm f;
    QPushButton* open = f.Add("Open");
    QPushButton* options = f.Add("Options");
    QPushButton* close = f.Add("Close");
    QPushButton* digits = f.Add("123");
    QPushButton* spaced = f.Add("  ok");
    QCheckBox* box = f.Add<QCheckBox>("Stop");
    f.Generate();
    EXPECT_EQ(open->text(), "&Open");
    EXPECT_EQ(options->text(), "O&ptions");
    EXPECT_EQ(close->text(), "&Close");
    EXPECT_EQ(digits->text(), "&123");
    // O is taken already, so the spaces and the O are passed over.
    EXPECT_EQ(spaced->text(), "  o&k");
    EXPECT_EQ(box->text(), "&Stop");
}

TEST(kaHotkeyTest, TwoSpacesAndOkTakeTheO) {
    HotkeyForm f;
    QPushButton* spaced = f.Add("  ok");
    QPushButton* other = f.Add("Off");
    f.Generate();
    EXPECT_EQ(spaced->text(), "  &ok");
    EXPECT_EQ(other->text(), "O&ff");
}

TEST(kaHotkeyTest, DesignedAcceleratorsAreKeptAndReserved) {
    HotkeyForm f;
    QPushButton* plain = f.Add("Save");
    QPushButton* designed = f.Add("Ab&sent");
    QPushButton* twice = f.Add("Sa&sh");
    // A label without focus control gets nothing, but its "&" still counts.
    QLabel* label = f.Add<QLabel>("&Area");
    QPushButton* after = f.Add("Aha");
    QLabel* bare = f.Add<QLabel>("Hint");
    f.Generate();
    EXPECT_EQ(designed->text(), "Ab&sent");
    EXPECT_EQ(twice->text(), "Sa&sh");
    EXPECT_EQ(plain->text(), "Sa&ve") << "S and A are reserved";
    EXPECT_EQ(label->text(), "&Area");
    EXPECT_EQ(after->text(), "A&ha");
    EXPECT_EQ(bare->text(), "Hint");
}

TEST(kaHotkeyTest, LabelWithFocusControlGetsOne) {
    HotkeyForm f;
    QLabel* label = f.Add<QLabel>("Name:");
    auto* edit = Own(f.Form.get(), new QLineEdit(f.Form.get()), "NamekaEdit");
    label->setBuddy(edit);
    f.Generate();
    EXPECT_EQ(label->text(), "&Name:");
}

TEST(kaHotkeyTest, PagesShareLettersButNotWithTheControlsBeside) {
    HotkeyForm f;
    auto* tabs = Own(f.Form.get(), new QTabWidget(f.Form.get()), "kaPageControl");
    auto* first = Own(f.Form.get(), new QWidget, "FirstTabSheet");
    auto* second = Own(f.Form.get(), new QWidget, "SecondTabSheet");
    tabs->addTab(first, "Video");
    tabs->addTab(second, "Mask");
    QPushButton* onFirst = f.Add("Go", first);
    QPushButton* onSecond = f.Add("Go", second);
    QPushButton* taken = f.Add("Vm", second);
    QPushButton* beside = f.Add("Gvm");
    f.Generate();
    EXPECT_EQ(tabs->tabText(0), "&Video");
    EXPECT_EQ(tabs->tabText(1), "&Mask");
    // G went to the control beside; both pages may use O.
    EXPECT_EQ(onFirst->text(), "G&o");
    EXPECT_EQ(onSecond->text(), "G&o");
    // V and M are the tabs' letters: a page's controls inherit them.
    EXPECT_EQ(taken->text(), "Vm");
    // The form's own controls come before the pages, in the first walk.
    EXPECT_EQ(beside->text(), "&Gvm");
}

TEST(kaHotkeyTest, ControlsBesideThePageControlAvoidLettersUsedOnItsPages) {
    HotkeyForm f;
    auto* panel = Own(f.Form.get(), new QGroupBox("Options", f.Form.get()), "GroupBox");
    auto* tabs = Own(f.Form.get(), new QTabWidget(f.Form.get()), "kaPageControl");
    auto* page = Own(f.Form.get(), new QWidget, "TabSheet");
    tabs->addTab(page, "Page");
    f.Add("G&o", page);
    QPushButton* later = f.Add("Go", panel);
    f.Generate();
    // The page's designed O is never handed out beside the page control.
    EXPECT_EQ(panel->title(), "O&ptions");
    EXPECT_EQ(later->text(), "&Go");
    EXPECT_EQ(tabs->tabText(0), "P&age");
}

TEST(kaHotkeyTest, LongEmptyAndFullCasesStayUnchanged) {
    HotkeyForm f;
    const QString longCaption(254, QLatin1Char('x'));
    const QString shorter(253, QLatin1Char('y'));
    QPushButton* tooLong = f.Add(longCaption);
    QPushButton* fits = f.Add(shorter);
    QPushButton* empty = f.Add("");
    f.Generate();
    EXPECT_EQ(tooLong->text(), longCaption);
    EXPECT_EQ(fits->text(), "&" + shorter);
    EXPECT_EQ(empty->text(), "");

    HotkeyForm full;
    const QString all = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
    for (QChar c : all)
        full.Add(QStringLiteral("&") + c);
    QPushButton* last = full.Add("Anything 42");
    full.Generate();
    EXPECT_EQ(last->text(), "Anything 42");
}

TEST(kaHotkeyTest, BeforeGenerateCanCancelTheRun) {
    HotkeyForm f;
    QPushButton* button = f.Add("Open");
    int after = 0;
    f.Hotkey().OnBeforeGenerate = [](QObject*, bool& allow) { allow = false; };
    f.Hotkey().OnAfterGenerate = [&after](QObject*) { ++after; };
    f.Generate();
    EXPECT_EQ(button->text(), "Open");
    EXPECT_EQ(after, 0);
    f.Hotkey().OnBeforeGenerate = nullptr;
    f.Generate();
    EXPECT_EQ(button->text(), "&Open");
    EXPECT_EQ(after, 1);
    f.Hotkey().RemoveAccelerators();
    EXPECT_EQ(button->text(), "Open");
}

TEST(kaHotkeyTest, TrackBarFramesOnOneFormGetDistinctLetters) {
    HotkeyForm f;
    QPushButton* own = f.Add("Quality");
    auto* layout = new QVBoxLayout(f.Form.get());
    QList<TkaTrackbarFrame*> frames;
    for (int i = 0; i < 3; ++i) {
        auto* frame =
            Own(f.Form.get(), new TkaTrackbarFrame(f.Form.get()), QStringLiteral("Frame%1").arg(i));
        frame->kaLabel1->setText("Quality");
        layout->addWidget(frame);
        frames.append(frame);
    }
    f.Generate();
    EXPECT_EQ(own->text(), "&Quality");
    QSet<QChar> letters;
    for (TkaTrackbarFrame* frame : frames) {
        const QChar c = ExistingAccelerator(frame->kaLabel1->text());
        ASSERT_FALSE(c.isNull()) << frame->kaLabel1->text().toStdString();
        EXPECT_NE(c, QLatin1Char('Q'));
        letters.insert(c);
    }
    EXPECT_EQ(letters.size(), 3);
}

TEST(kaHotkeyTest, KeyTablesAndExistingAccelerators) {
    const TUseProp keys;
    ASSERT_EQ(keys.Used.size(), 36);
    EXPECT_EQ(keys.Used.first(), "A");
    EXPECT_EQ(keys.Used.last(), "9");
    ASSERT_EQ(keys.NotUsed.size(), 36);
    EXPECT_EQ(keys.NotUsed.first(), QString(QChar(0xC4)));
    EXPECT_EQ(ExistingAccelerator("Save&"), QChar());
    EXPECT_EQ(ExistingAccelerator("a&b"), QLatin1Char('B'));
    EXPECT_EQ(ExistingAccelerator("Fish && Chips"), QLatin1Char('&'));
}

} // namespace
