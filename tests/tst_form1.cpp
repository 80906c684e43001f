#include "form1.h"
#include "test_support.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QImageReader>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>

// The window as the user first meets it.
class tst_Form1 : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void controlTable_data();
    void controlTable();
    void startState();
    void keyboard_data();
    void keyboard();
    void framesOfOtherSizes();
    void textBoxTakesLongText();
    void windowsIconHasItsThreeImages();

private:
    std::unique_ptr<TestRuntime> m_runtime;
    std::unique_ptr<Form1> m_form;
};

void tst_Form1::init()
{
    QApplication::setStyle(u"Fusion"_s);
    m_runtime = std::make_unique<TestRuntime>();
    m_form = std::make_unique<Form1>(*m_runtime);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void tst_Form1::cleanup()
{
    m_form.reset();
    m_runtime.reset();
}

void tst_Form1::controlTable_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    QTest::newRow("Image1") << u"Image1"_s << QRect(0, 0, 320, 200) << QString();
    QTest::newRow("Command1") << u"Command1"_s << QRect(123, 216, 73, 25) << u"Пуск"_s;
    QTest::newRow("Label1") << u"Label1"_s << QRect(83, 256, 153, 17) << u"Скорость прокрутки кадров:"_s;
    QTest::newRow("Text1") << u"Text1"_s << QRect(91, 280, 129, 19) << QString();
}

void tst_Form1::controlTable()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    const auto *control = m_form->findChild<QWidget *>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    QVERIFY(control->isVisible());
    if (const auto *button = qobject_cast<const QPushButton *>(control))
        QCOMPARE(button->text(), text);
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        QCOMPARE(label->text(), text);
        QVERIFY2(label->fontMetrics().horizontalAdvance(text) <= geometry.width(), "label text cut off");
        QVERIFY(label->fontMetrics().height() <= geometry.height());
    }
    if (const auto *edit = qobject_cast<const QLineEdit *>(control)) {
        QCOMPARE(edit->text(), text);
        QVERIFY(edit->fontMetrics().height() + 4 <= geometry.height());
    }
    // The window's font is the embedded one, not whatever the machine has.
    QCOMPARE(control->font().family(), uiFont().family());
    QVERIFY(!uiFont().family().isEmpty());
}

void tst_Form1::startState()
{
    QCOMPARE(m_form->windowTitle(), u"Тарвек"_s);
    QCOMPARE(m_form->size(), QSize(320, 309));
    QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
    const QList<QSize> iconSizes = m_form->windowIcon().availableSizes();
    QVERIFY(iconSizes.contains(QSize(16, 16)) && iconSizes.contains(QSize(32, 32)));

    const QImage picture = m_form->image1().picture();
    QCOMPARE(picture.size(), QSize(320, 200));
    QCOMPARE(picture.convertToFormat(QImage::Format_Mono).convertToFormat(QImage::Format_RGB32), picture);
    QCOMPARE(picture.pixel(319, 199), qRgb(0, 0, 0));

    QVERIFY(m_form->command1().isEnabled());
    QCOMPARE(QApplication::focusWidget(), &m_form->command1());
    QVERIFY(m_form->findChild<CommonDialog *>(u"CommonDialog1"_s));
    for (int stage = 1; stage <= StageCount; ++stage) {
        const auto *timer = m_form->findChild<RuntimeTimer *>(u"Timer%1"_s.arg(stage));
        QVERIFY(timer && !timer->isEnabled());
        QCOMPARE(timer->interval(), 1);
    }
    m_runtime->clock().advance(1s);
    QVERIFY(!m_runtime->clock().armed());
}

void tst_Form1::keyboard_data()
{
    QTest::addColumn<QString>("focusOn");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("focusAfter");
    QTest::addColumn<bool>("starts");
    QTest::newRow("Tab from the button") << u"Command1"_s << int(Qt::Key_Tab) << u"Text1"_s << false;
    QTest::newRow("Tab from the text box") << u"Text1"_s << int(Qt::Key_Tab) << u"Command1"_s << false;
    QTest::newRow("Backtab from the button") << u"Command1"_s << int(Qt::Key_Backtab) << u"Text1"_s << false;
    QTest::newRow("Enter in the text box") << u"Text1"_s << int(Qt::Key_Return) << u"Text1"_s << false;
    // The press locks the button, so the focus moves on to the text box.
    QTest::newRow("Space on the button") << u"Command1"_s << int(Qt::Key_Space) << u"Text1"_s << true;
}

void tst_Form1::keyboard()
{
    QFETCH(QString, focusOn);
    QFETCH(int, key);
    QFETCH(QString, focusAfter);
    QFETCH(bool, starts);
    auto *widget = m_form->findChild<QWidget *>(focusOn);
    widget->setFocus();
    QSignalSpy clicks(&m_form->command1(), &QPushButton::clicked);
    QTest::keyClick(widget, Qt::Key(key));
    QCOMPARE(QApplication::focusWidget()->objectName(), focusAfter);
    QCOMPARE(clicks.size(), starts ? 1 : 0);
    QCOMPARE(m_form->timer(1).isEnabled(), starts);
}

void tst_Form1::framesOfOtherSizes()
{
    const auto filled = [](QSize size) {
        QImage image(size, QImage::Format_RGB32);
        image.fill(qRgb(255, 0, 0));
        return image;
    };
    // A large frame lies under every control; a small one leaves no trace of it.
    m_form->image1().setPicture(filled({640, 480}));
    QImage shot = m_form->grab().toImage();
    for (const char *name : {"Command1", "Label1", "Text1"}) {
        const auto *control = m_form->findChild<QWidget *>(QLatin1String(name));
        QVERIFY2(shot.pixel(control->geometry().center()) != qRgb(255, 0, 0), name);
    }
    m_form->image1().setPicture(filled({160, 100}));
    QCOMPARE(m_form->image1().geometry(), QRect(0, 0, 160, 100));
    shot = m_form->grab().toImage();
    QCOMPARE(shot.pixel(100, 50), qRgb(255, 0, 0));
    QVERIFY(shot.pixel(250, 150) != qRgb(255, 0, 0));
}

void tst_Form1::textBoxTakesLongText()
{
    const QString pasted(1 << 20, u'9');
    m_form->text1().setText(pasted);
    QCOMPARE(m_form->text1().text().size(), pasted.size());
}

void tst_Form1::windowsIconHasItsThreeImages()
{
    // Windows builds carry the icon as an .ico assembled by make_ico; it is
    // checked here so that it cannot rot where it is not built.
    QTemporaryDir dir;
    const QString ico = dir.filePath(u"tarvek.ico"_s);
    const QString icons = QStringLiteral(ICON_DIR);
    QCOMPARE(QProcess::execute(QStringLiteral(MAKE_ICO), {ico, icons + u"/tarvek-32-2.xpm"_s,
                                                          icons + u"/tarvek-32-16.xpm"_s, icons + u"/tarvek-16-16.xpm"_s}), 0);
    QImageReader reader(ico, "ico");
    QCOMPARE(reader.imageCount(), 3);
    const QList<std::pair<int, int>> expected = {{32, 2}, {32, 16}, {16, 16}}; // side, colours at most
    for (int i = 0; i < 3; ++i) {
        QVERIFY(reader.jumpToImage(i));
        const QImage image = reader.read().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(image.size(), QSize(expected[i].first, expected[i].first));
        QSet<QRgb> colours;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                colours.insert(image.pixel(x, y));
        QVERIFY(colours.size() > 1 && colours.size() <= expected[i].second);
        // The same picture as the window icon's image of that size.
        QCOMPARE(image, QImage(icons + (i == 0 ? u"/tarvek-32-2.xpm"_s : i == 1 ? u"/tarvek-32-16.xpm"_s : u"/tarvek-16-16.xpm"_s))
                            .convertToFormat(QImage::Format_RGB32));
    }
}

QTEST_MAIN(tst_Form1)
#include "tst_form1.moc"
