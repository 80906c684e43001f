#include "form1.h"
#include "test_support.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
    void textBoxTakesLongText();

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

void tst_Form1::textBoxTakesLongText()
{
    const QString pasted(1 << 20, u'9');
    m_form->text1().setText(pasted);
    QCOMPARE(m_form->text1().text().size(), pasted.size());
}

QTEST_MAIN(tst_Form1)
#include "tst_form1.moc"
