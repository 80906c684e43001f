#include "form1.h"
#include "test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

// What the window offers beyond its pixels at 100 %: a screen scaled by 2, and
// the names assistive technology reads.
class tst_Presentation : public QObject
{
    Q_OBJECT
private slots:
    void scaledScreenKeepsPixelsCrisp();
    void accessibleNames();
    void qtTextsInRussian();
};

void tst_Presentation::scaledScreenKeepsPixelsCrisp()
{
    TestRuntime runtime;
    Form1 form(runtime);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.devicePixelRatio(), 2.0);

    QImage checker(320, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 320; ++x)
            checker.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(200, 0, 0));
    form.image1().setPicture(checker);
    const QImage shot = form.grab().toImage();
    QCOMPARE(shot.size(), QSize(640, 618));
    // Every picture pixel is a 2 x 2 block of its own colour: no blur.
    for (const QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(17, 33), QPoint(319, 199)}) {
        for (const QPoint d : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(1, 1)})
            QCOMPARE(shot.pixel(p * 2 + d), checker.pixel(p));
    }
    // The layout scales with the screen: the button sits at twice its place.
    QCOMPARE(form.command1().mapTo(&form, QPoint(0, 0)) * 2, QPoint(246, 432));
}

void tst_Presentation::accessibleNames()
{
    QTemporaryDir dir;
    QDir::setCurrent(dir.path());
    writeFrames(QDir(dir.path()));
    TestRuntime runtime;
    Form1 form(runtime);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const auto name = [](QWidget *widget) {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    };
    QCOMPARE(name(&form.text1()), u"Скорость прокрутки кадров:"_s);
    QCOMPARE(name(&form.command1()), u"Пуск"_s);

    QList<QString> names;
    connect(&form.stageChain(), &StageChain::stageFinished, this, [&] { names << name(&form.image1()); });
    form.text1().setText(u"10"_s);
    QTest::mouseClick(&form.command1(), Qt::LeftButton);
    runtime.clock().advance(1s);
    QCOMPARE(names.size(), StageCount);
    QCOMPARE(names[4], u"Кадр 5"_s);
    QCOMPARE(names.last(), u"Последний кадр"_s);
}

void tst_Presentation::qtTextsInRussian()
{
    QTranslator qtTexts;
    QVERIFY(qtTexts.load(QString::fromLatin1(QtTranslationResource)));
    QCOMPARE(qtTexts.translate("QLineEdit", "Select All"), u"Выделить всё"_s); // the text box's menu
}

int main(int argc, char *argv[])
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    QApplication::setStyle(u"Fusion"_s);
    tst_Presentation test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_presentation.moc"
