#include "frRoot.h"

#include "FNetworkCameras.h"
#include "FOffsiteCopy.h"
#include "kaGeneral.h"
#include "kaLabel.h"
#include "kaLanguage.h"
#include "kaPanel.h"

#include <QFont>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int TitlePointSize = 28;
constexpr int PanelMargin = 24;

TkaMessage& FirstStartMessage() {
    static TkaMessage message(
        QStringLiteral("FRROOT_MSG_FIRSTSTART"),
        QStringLiteral("No camera? Add a network camera with the button below, or try the demo "
                       "camera: DemoCameras=1 in the section [Capture] of %1, then start Tarvik "
                       "again."));
    return message;
}

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

    FirstStartkaLabel = Own(this, new TkaLabel(kaPanel), "FirstStartkaLabel");
    FirstStartkaLabel->setAlignment(Qt::AlignCenter);
    FirstStartkaLabel->setWordWrap(true);
    FirstStartkaLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(FirstStartkaLabel);
    ShowFirstStartText();

    NetworkCamerasButton =
        Own(this, new QPushButton(QStringLiteral("&Network cameras ..."), kaPanel),
            "NetworkCamerasButton");
    column->addWidget(NetworkCamerasButton, 0, Qt::AlignHCenter);
    connect(NetworkCamerasButton, &QPushButton::clicked, this,
            &TRootFrame::NetworkCamerasButtonClick);
    OffsiteCopyButton = Own(this, new QPushButton(QStringLiteral("&Off-site copy ..."), kaPanel),
                            "OffsiteCopyButton");
    column->addWidget(OffsiteCopyButton, 0, Qt::AlignHCenter);
    connect(OffsiteCopyButton, &QPushButton::clicked, this, &TRootFrame::OffsiteCopyButtonClick);

    CentrePanel(kaPanel);
    // Name and version are no text to translate: a file of an older version
    // would show its own number. The hint is a message with the file's path.
    ExcludeFromLanguage(TitlekaLabel);
    ExcludeFromLanguage(FirstStartkaLabel);
    auto* language = Own(this, new TkaLanguage(this), "kaLanguage1");
    language->AfterImport = [this](QObject*) { ShowFirstStartText(); };
}

void TRootFrame::ShowFirstStartText() {
    const TIniFile* cfg = CfgIniFile();
    const QString file = cfg != nullptr ? cfg->FileName() : ConfigFileName();
    FirstStartkaLabel->setText(FirstStartMessage().Text().arg(file));
}

void TRootFrame::NetworkCamerasButtonClick() {
    TNetworkCamerasForm form(window());
    // Translated and given its accelerators as it loads.
    LoadComponent(&form);
    form.exec();
}

void TRootFrame::OffsiteCopyButtonClick() {
    TOffsiteCopyForm form(window());
    LoadComponent(&form);
    form.OnChanged = [this] {
        if (OnOffsiteCopyChanged)
            OnOffsiteCopyChanged();
    };
    form.exec();
}

QString TRootFrame::ProductTitle() {
    return QStringLiteral("Tarvik ") + QStringLiteral(TARVIK_VERSION);
}
