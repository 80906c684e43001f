// Draws the demo animation: 32 frames of a ball bouncing across a 320 x 200
// picture, the frame number in a corner, and a closing frame that reads "Конец".
// Usage: make_demo OUT_DIR FONT.ttf
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cmath>
#include <cstdio>

namespace {
constexpr int Width = 320;
constexpr int Height = 200;
constexpr int Frames = 32;
constexpr int Radius = 18;

void drawBackground(QPainter &p)
{
    QLinearGradient sky(0, 0, 0, Height);
    sky.setColorAt(0, QColor(40, 90, 170));
    sky.setColorAt(1, QColor(150, 200, 240));
    p.fillRect(0, 0, Width, Height, sky);
    p.fillRect(0, Height - 24, Width, 24, QColor(60, 130, 60));
}

QImage frame(int n, const QFont &font)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawBackground(p);

    // Across the picture once, bouncing three times on the grass.
    const double t = double(n - 1) / (Frames - 1);
    const double x = Radius + t * (Width - 2 * Radius);
    const double floor = Height - 24 - Radius;
    const double y = floor - std::abs(std::sin(t * 3 * M_PI)) * (floor - Radius - 10);
    const double squash = y > floor - 4 ? 0.8 : 1.0;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 60));
    p.drawEllipse(QPointF(x, Height - 22), Radius * 0.9, 3);
    QRadialGradient ball(x - 6, y - 6, Radius * 1.4);
    ball.setColorAt(0, QColor(255, 230, 120));
    ball.setColorAt(1, QColor(220, 60, 30));
    p.setBrush(ball);
    p.drawEllipse(QPointF(x, y + Radius * (1 - squash)), Radius / squash, Radius * squash);

    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 4, Width - 8, 24), Qt::AlignRight | Qt::AlignTop, QString::number(n));
    return image;
}

QImage closingFrame(QFont font)
{
    QImage image(Width, Height, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawBackground(p);
    font.setPixelSize(48);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(0, 0, Width, Height - 24), Qt::AlignCenter, QStringLiteral("Конец"));
    return image;
}
} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_demo OUT_DIR FONT.ttf\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    const QStringList families =
        QFontDatabase::applicationFontFamilies(QFontDatabase::addApplicationFont(QString::fromLocal8Bit(argv[2])));
    QFont font(families.value(0));
    font.setPixelSize(18);
    font.setBold(true);

    bool ok = QDir().mkpath(out.path());
    for (int n = 1; n <= Frames; ++n)
        ok = ok && frame(n, font).convertToFormat(QImage::Format_RGB888).save(out.filePath(QStringLiteral("%1.bmp").arg(n)), "BMP");
    ok = ok && closingFrame(font).convertToFormat(QImage::Format_RGB888).save(out.filePath(QStringLiteral("-1.bmp")), "BMP");
    if (!ok) {
        std::fprintf(stderr, "make_demo: cannot write the frames into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
