#include "form1.h"

#include "controls_font.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTranslator>

#include <cstdio>
#include <limits>
#include <utility>

// The icon's three pictures, compiled in: read this way they need no image
// plug-in lookup at start-up.
#include "icons/tarvek-16-16.xpm"
#include "icons/tarvek-32-16.xpm"
#include "icons/tarvek-32-2.xpm"

namespace {
constexpr QRect Image1Geometry{0, 0, 320, 200};
constexpr QRect Command1Geometry{123, 216, 73, 25};
constexpr QRect Label1Geometry{83, 256, 153, 17};
constexpr QRect Text1Geometry{91, 280, 129, 19};

QImage initialPicture()
{
    QImage black(Image1Geometry.size(), QImage::Format_RGB32);
    black.fill(Qt::black);
    return black;
}

QIcon programIcon()
{
    QIcon icon;
    for (const char *const *xpm : {tarvek_16_16, tarvek_32_16, tarvek_32_2})
        icon.addPixmap(QPixmap(xpm));
    return icon;
}
} // namespace

namespace {
struct LoadedUiFont
{
    QString file;
    QString family;
};

// Registered once per process, from the first candidate that loads; the family
// name comes from the font file itself.
const LoadedUiFont &loadedUiFont()
{
    static const LoadedUiFont loaded = [] {
        const QStringList files = uiFontFiles();
        for (const QString &file : files) {
            const QStringList families = QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(file));
            if (!families.isEmpty())
                return LoadedUiFont{file, families.first()};
        }
        // The window still opens, but not without saying why it may look wrong.
        const QString tried = files.isEmpty() ? QStringLiteral("в системе нет его файлов")
                                              : QStringLiteral("не читается ни один из файлов «%1»").arg(files.join(u"», «"));
        std::fputs(qPrintable(QStringLiteral("tarvek: шрифт Liberation Sans 2 не найден (%1), окно показано другим "
                                             "шрифтом, и надписи могут не уместиться. Установите пакет fonts-liberation "
                                             "(в Debian 12 — fonts-liberation2).\n").arg(tried)),
                   stderr);
        return LoadedUiFont{};
    }();
    return loaded;
}
} // namespace

QString uiFontFile()
{
    return loadedUiFont().file;
}

QFont uiFont()
{
    QFont font(loadedUiFont().family);
    font.setPixelSize(11);
    return font;
}

QString qtTextsFolder()
{
    // Two lines, clearer here than in a file for each system: Windows has no
    // system folder of Qt's translations, so they lie beside the program.
#ifdef Q_OS_WIN
    return QCoreApplication::applicationDirPath();
#else
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#endif
}

bool loadQtTexts(QTranslator &translator, const QString &folder)
{
    return translator.load(QStringLiteral("qtbase_ru"), folder);
}

Form1::Form1(RuntimeServices &runtime, QWidget *parent) : QWidget(parent), m_runtime(runtime)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Тарвек"));
    setWindowIcon(programIcon());
    setFont(uiFont());
    setFixedSize(ClientSize);
    buildControls();

    m_display = std::make_unique<FrameDisplay>(m_runtime, *m_commonDialog1, *m_image1);
    m_chain = new StageChain(m_runtime, m_timers, *m_command1, *m_display, this);
    // A close that waited for its stage is taken up once the stage has ended.
    const auto takeUpClose = [this] {
        if (std::exchange(m_closeWaits, false))
            closeFromEventLoop();
    };
    connect(m_chain, &StageChain::stageFinished, this, takeUpClose);
    connect(m_chain, &StageChain::failed, this, takeUpClose);
    connect(m_command1, &QPushButton::clicked, this, [this] { startCommand(); });
}

Form1::~Form1()
{
    // The chain refers to the display; it goes first.
    delete m_chain;
}

void Form1::buildControls()
{
    m_image1 = new ImageBox(this);
    m_image1->setObjectName(QStringLiteral("Image1"));
    m_image1->move(Image1Geometry.topLeft());
    m_image1->setPicture(initialPicture());
    m_image1->setAccessibleName(QStringLiteral("Нет кадра"));

    m_command1 = new QPushButton(QStringLiteral("Пуск"), this);
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command1->setGeometry(Command1Geometry);
    m_command1->setAutoDefault(false);

    m_label1 = new QLabel(QStringLiteral("Скорость прокрутки кадров:"), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label1->setGeometry(Label1Geometry);
    // A picture larger than the picture area reaches down here; the text stays readable.
    m_label1->setAutoFillBackground(true);

    m_text1 = new QLineEdit(this);
    m_text1->setObjectName(QStringLiteral("Text1"));
    m_text1->setGeometry(Text1Geometry);
    m_text1->setMaxLength(std::numeric_limits<int>::max());
    m_text1->setAccessibleName(m_label1->text());
    m_label1->setBuddy(m_text1);

    m_commonDialog1 = new CommonDialog(this);
    m_commonDialog1->setObjectName(QStringLiteral("CommonDialog1"));

    for (int stage = 1; stage <= StageCount; ++stage) {
        auto *timer = new RuntimeTimer(m_runtime.timers(), this);
        timer->setObjectName(QStringLiteral("Timer%1").arg(stage));
        m_timers[std::size_t(stage - 1)] = timer;
    }

    // The picture lies under every other control, whatever its size.
    m_image1->lower();
    setTabOrder(m_command1, m_text1);
    m_command1->setFocus();
}

void Form1::closeEvent(QCloseEvent *event)
{
    // A close is never taken where it comes, but from the event loop: Qt's
    // Wayland plug-in reads the compositor's close while a paint of the window
    // (a frame's, the button's, the text box's) waits for a free buffer, and a
    // window closed there is taken from under that paint, which then crashes.
    // Inside a stage it waits for the stage's end (a failed stage's, for its
    // report to be answered).
    if (!m_closingFromEventLoop || m_chain->inStage()) {
        event->ignore();
        if (m_chain->inStage())
            m_closeWaits = true;
        else
            closeFromEventLoop();
        return;
    }
    // No frame is read or shown once the window is closed.
    for (RuntimeTimer *timer : m_timers)
        timer->setEnabled(false);
    event->accept();
}

void Form1::closeFromEventLoop()
{
    if (std::exchange(m_closeQueued, true))
        return;
    QMetaObject::invokeMethod(this, [this] {
        m_closeQueued = false;
        m_closingFromEventLoop = true;
        close();
        m_closingFromEventLoop = false;
    }, Qt::QueuedConnection);
}

void Form1::startCommand()
{
    timer(1).setEnabled(true);
    m_command1->setEnabled(false);
    // Each timer reads the text anew, and a text that does not convert, or a value
    // the timer refuses, leaves just that timer as it was.
    for (int stage = 1; stage <= StageCount; ++stage) {
        resumeNext([&] {
            const std::int32_t milliseconds = textToInteger(m_text1->text());
            // 0 would never tick and leave Start locked for good: take it as "as fast as possible".
            timer(stage).setInterval(milliseconds == 0 ? 1 : milliseconds);
        });
    }
}
