#include "kaTrackbarFrame.h"

#include "kaGeneral.h"
#include "kaLabel.h"
#include "kaPanel.h"
#include "kaTrackBar.h"

#include <QBoxLayout>

namespace {

constexpr int FrameWidth = 152;
constexpr int FrameHeight = 44;
constexpr int TrackBarHeight = 27;
constexpr int LeftSpacerWidth = 8;
constexpr int RightSpacerWidth = 9;

TkaPanel* Spacer(QWidget* parent, int width) {
    auto* panel = new TkaPanel(parent);
    panel->setFrameShape(QFrame::NoFrame);
    panel->setFixedWidth(width);
    return panel;
}

} // namespace

TkaTrackbarFrame::TkaTrackbarFrame(QWidget* parent) : QWidget(parent) {
    resize(FrameWidth, FrameHeight);

    TrackBar = Own(this, new TkaTrackBar(this), "TrackBar");
    TrackBar->setFixedHeight(TrackBarHeight);
    TrackBar->SetMin(0);
    TrackBar->SetMax(10);
    TrackBar->SetFrequency(1);
    TrackBar->setTickPosition(QSlider::TicksBelow);
    TrackBar->SetPosition(0);
    TrackBar->SetRemanent(true);

    kaPanel1 = Own(this, new TkaPanel(this), "kaPanel1");
    kaPanel1->setFrameShape(QFrame::NoFrame);
    kaLabel1 = Own(this, new TkaLabel(QStringLiteral("Description"), kaPanel1), "kaLabel1");
    kaLabel1->setBuddy(TrackBar);
    kaLabel2 = Own(this, new TkaLabel(QStringLiteral("Value"), kaPanel1), "kaLabel2");
    kaLabel2->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    kaPanel2 = Own(this, Spacer(kaPanel1, LeftSpacerWidth), "kaPanel2");
    kaPanel3 = Own(this, Spacer(kaPanel1, RightSpacerWidth), "kaPanel3");

    auto* captions = new QHBoxLayout(kaPanel1);
    captions->setContentsMargins(0, 0, 0, 0);
    captions->setSpacing(0);
    captions->addWidget(kaPanel2);
    captions->addWidget(kaLabel1);
    captions->addStretch();
    captions->addWidget(kaLabel2);
    captions->addWidget(kaPanel3);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(kaPanel1, 1);
    column->addWidget(TrackBar);

    // The value is a number: nothing to translate.
    ExcludeFromLanguage(kaLabel2);

    OnTrackBarChange = [this](QObject* sender) { TrackBarChange(sender); };
    connect(TrackBar, &TkaTrackBar::OnChange, this, [this] {
        if (OnTrackBarChange)
            OnTrackBarChange(TrackBar);
    });
}

TkaTrackbarFrame::~TkaTrackbarFrame() {
    IncludeInLanguage(kaLabel2);
}

void TkaTrackbarFrame::Loaded() {
    // Nothing shows until the first change.
    kaLabel2->clear();
}

void TkaTrackbarFrame::TrackBarChange(QObject* /*sender*/) {
    if (!IsLoading(this))
        kaLabel2->setText(QString::number(TrackBar->Position()));
}
