#include "frImage.h"
#include "kaLanguage.h"

#include "EkaError.h"
#include "FileStamp.h"
#include "PaintBox.h"
#include "ThumbnailCache.h"
#include "UnreadablePictures.h"
#include "kaAction.h"
#include "kaActionList.h"
#include "kaGeneral.h"
#include "kaLabel.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDate>
#include <QFileInfo>
#include <QFrame>
#include <QLocale>
#include <QPainter>
#include <QRegularExpression>
#include <QStyle>
#include <QTime>
#include <QToolBar>

namespace {

constexpr int FrameWidth = 320;
constexpr int FrameHeight = 240;
const QColor Screen(24, 24, 24);

int NumberAt(const QString& name, int start, int length) {
    bool ok = false;
    const int value = name.mid(start, length).toInt(&ok);
    return ok ? value : 0;
}

// The locale's long time pattern without the time zone, which a picture's
// name does not tell, and with Insert placed right after the seconds.
QString LongTimeWith(const QTime& time, const QString& insert) {
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b"));
    QString pattern = QLocale().timeFormat(QLocale::LongFormat);
    pattern.remove(zone);
    const qsizetype seconds = pattern.lastIndexOf(QLatin1Char('s'));
    // Quoted, the inserted text is never read as a pattern letter.
    const QString quoted = QLatin1Char('\'') +
                           QString(insert).replace(QLatin1Char('\''), QStringLiteral("''")) +
                           QLatin1Char('\'');
    if (seconds >= 0)
        pattern.insert(seconds + 1, quoted);
    else
        pattern.append(quoted);
    return QLocale().toString(time, pattern.trimmed());
}

} // namespace

TImageFrame::TImageFrame(QObject* owner, QWidget* parent)
    : TTreeNodeFrame(owner, parent), FUnreadable(std::make_shared<TUnreadablePictures>()) {
    setObjectName(QStringLiteral("ImageFrame"));
    resize(FrameWidth, FrameHeight);
    CreateComponents();
    Own(this, new TkaLanguage(this), "kaLanguage1");
}

TImageFrame::~TImageFrame() {
    Image->OnPaint = nullptr;
}

void TImageFrame::CreateComponents() {
    ActionList = Own(this, new TkaActionList(this), "ActionList");
    StretchAction = Own(this, new TkaAction(ActionList), "StretchAction");
    StretchAction->setText(QStringLiteral("Stretch"));
    CaptionAccess::SetHint(StretchAction, QStringLiteral("Stretch"));
    StretchAction->setIcon(QApplication::style()->standardIcon(QStyle::SP_TitleBarMaxButton));
    StretchAction->setCheckable(true);
    StretchAction->SetRemanent(true);
    connect(StretchAction, &QAction::triggered, this, &TImageFrame::StretchActionExecute);

    ToolBar1 = Own(this, new QToolBar(this), "ToolBar1");
    ToolBar1->setIconSize(QSize(16, 16));
    ExcludeFromLanguage(ToolBar1);
    FileDatekaLabel = Own(this, new TkaLabel(ToolBar1), "FileDatekaLabel");
    FileDatekaLabel->setContentsMargins(6, 0, 6, 0);
    FileDatekaLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ExcludeFromLanguage(FileDatekaLabel);
    ToolBar1->addSeparator();
    ToolBar1->addAction(StretchAction);
    ToolBar1->addSeparator();
    ToolBar1->addWidget(FileDatekaLabel);

    ImagePanel = Own(this, new QFrame(this), "ImagePanel");
    ImagePanel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    Image = Own(this, new TPaintBox(ImagePanel), "Image");
    Image->OnPaint = [this](QPainter& canvas) { ImagePaint(canvas); };
    auto* inner = new QVBoxLayout(ImagePanel);
    inner->setContentsMargins(1, 1, 1, 1);
    inner->addWidget(Image);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(ToolBar1);
    column->addWidget(ImagePanel, 1);
}

void TImageFrame::Loaded() {
    // The action has restored its state while loading.
    FStretch = StretchAction->isChecked();
}

void TImageFrame::SetUnreadablePictures(std::shared_ptr<TUnreadablePictures> registry) {
    if (registry)
        FUnreadable = std::move(registry);
}

void TImageFrame::LoadPicture(const QString& value) {
    if (value == FFileName)
        return;
    FFileName = value;
    QString stamp = TimeStampText(value);
    FPicture = QImage();
    if (!FUnreadable->Known(value)) {
        try {
            FPicture = ReadPicture(value);
        } catch (const EkaError& error) {
            FUnreadable->Report(value, error);
        }
    }
    if (FPicture.isNull())
        stamp += QStringLiteral(" - ") + TUnreadablePictures::Message();
    FileDatekaLabel->setText(stamp);
    Image->update();
}

QString TImageFrame::TimeStampText(const QString& fileName) {
    const QString name = QFileInfo(fileName).fileName();
    const QDate date(NumberAt(name, 0, 4), NumberAt(name, 4, 2), NumberAt(name, 6, 2));
    const QTime time(NumberAt(name, 8, 2), NumberAt(name, 10, 2), NumberAt(name, 12, 2));
    if (!date.isValid() || !time.isValid())
        return name;
    const QString milliseconds = name.mid(14, 3);
    return QLocale().toString(date, QLocale::ShortFormat) + QLatin1Char(' ') +
           LongTimeWith(time, QLatin1Char('.') + milliseconds);
}

QString TImageFrame::TimeOfDayText(const QString& fileName) {
    const QString name = QFileInfo(fileName).fileName();
    const QTime time(NumberAt(name, 8, 2), NumberAt(name, 10, 2), NumberAt(name, 12, 2));
    if (name.size() < 17 || !time.isValid())
        return {};
    return LongTimeWith(time, QLatin1Char('.') + name.mid(14, 3));
}

void TImageFrame::StretchActionExecute() {
    // The action has toggled its check already.
    FStretch = StretchAction->isChecked();
    Image->update();
}

void TImageFrame::ImagePaint(QPainter& canvas) {
    canvas.fillRect(Image->rect(), Screen);
    if (FPicture.isNull())
        return;
    if (FStretch) {
        canvas.drawImage(Image->rect(), FPicture);
        return;
    }
    const QPoint offset((Image->width() - FPicture.width()) / 2,
                        (Image->height() - FPicture.height()) / 2);
    canvas.drawImage(offset, FPicture);
}
