#include "frRoot.h"

#include "kaLabel.h"
#include "kaPanel.h"

#include <QFont>
#include <QGridLayout>
#include <QVBoxLayout>

namespace {

constexpr int TitlePointSize = 28;
constexpr int PanelMargin = 24;

} // namespace

TRootFrame::TRootFrame(QObject* owner, QWidget* parent) : TTreeNodeFrame(owner, parent) {
    setObjectName(QStringLiteral("RootFrame"));

    kaPanel = Own(this, new TkaPanel(this), "kaPanel");
    kaPanel->setFrameShape(QFrame::NoFrame);
    auto* column = new QVBoxLayout(kaPanel);
    column->setContentsMargins(PanelMargin, PanelMargin, PanelMargin, PanelMargin);

    TitlekaLabel = Own(this, new TkaLabel(ProductTitle(), kaPanel), "TitlekaLabel");
    QFont title = TitlekaLabel->font();
    title.setPointSize(TitlePointSize);
    title.setBold(true);
    TitlekaLabel->setFont(title);
    TitlekaLabel->setAlignment(Qt::AlignCenter);
    column->addWidget(TitlekaLabel);

    DescriptionkaLabel = Own(this,
                             new TkaLabel(QStringLiteral("Video surveillance with your webcams:\n"
                                                         "motion detection, recording and "
                                                         "browsing of scenes"),
                                          kaPanel),
                             "DescriptionkaLabel");
    DescriptionkaLabel->setAlignment(Qt::AlignCenter);
    column->addWidget(DescriptionkaLabel);

    // Stretch on every side keeps the panel centred, and the layout never
    // places it at a negative position; the page cannot shrink below it.
    auto* centre = new QGridLayout(this);
    centre->setContentsMargins(0, 0, 0, 0);
    centre->addWidget(kaPanel, 1, 1);
    centre->setRowStretch(0, 1);
    centre->setRowStretch(2, 1);
    centre->setColumnStretch(0, 1);
    centre->setColumnStretch(2, 1);
    setMinimumSize(kaPanel->minimumSizeHint());
}

QString TRootFrame::ProductTitle() {
    return QStringLiteral("Tarvik ") + QStringLiteral(TARVIK_VERSION);
}
