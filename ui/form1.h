#pragma once

#include "frame_display.h"
#include "stage_chain.h"

#include <QString>
#include <QWidget>

#include <memory>

class QLabel;
class QLineEdit;
class QPushButton;
class QTranslator;

// The main window: a picture area, the Start button, and the box for the time
// each frame stays on screen.
class Form1 : public QWidget
{
    Q_OBJECT
public:
    static constexpr QSize ClientSize{320, 309};

    explicit Form1(RuntimeServices &runtime, QWidget *parent = nullptr);
    ~Form1() override;

    ImageBox &image1() { return *m_image1; }
    QPushButton &command1() { return *m_command1; }
    QLineEdit &text1() { return *m_text1; }
    CommonDialog &commonDialog1() { return *m_commonDialog1; }
    RuntimeTimer &timer(int stage) { return *m_timers[std::size_t(stage - 1)]; }
    StageChain &stageChain() { return *m_chain; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void startCommand();
    void closeFromEventLoop();

    RuntimeServices &m_runtime;
    ImageBox *m_image1 = nullptr;
    QPushButton *m_command1 = nullptr;
    QLabel *m_label1 = nullptr;
    QLineEdit *m_text1 = nullptr;
    CommonDialog *m_commonDialog1 = nullptr;
    StageChain::Timers m_timers{};
    std::unique_ptr<FrameDisplay> m_display;
    StageChain *m_chain = nullptr;
    bool m_closeWaits = false; // a close came inside a stage and waits for its end
    bool m_closeQueued = false; // a close is on its way from the event loop
    bool m_closingFromEventLoop = false;
};

// The font of every control, Liberation Sans 2, loaded from the first of
// uiFontFiles() that loads, so that the fixed layout looks the same whatever
// other fonts the machine has. Without it, the system's default, which
// standard error is told of once, with the files tried.
QFont uiFont();
// The file that font was loaded from; empty when none loaded.
QString uiFontFile();

// Where Qt's own texts are: Qt's translations folder on the system; on Windows,
// where no such folder is, the program's own folder.
QString qtTextsFolder();
// Loads Qt's own texts (the text box's menu, the standard buttons) in Russian
// from that folder. Without them, Qt's texts stay English; the program's own,
// the report's «ОК» among them, are Russian anyway.
bool loadQtTexts(QTranslator &translator, const QString &folder = qtTextsFolder());
