// Any bytes, written to a frame file and loaded: a picture or a RuntimeError,
// never a crash, a hang or an unbounded allocation.
#include "picture.h"
#include "runtime_error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    static QTemporaryDir workDir; // where the frame file is written
    QDir::setCurrent(workDir.path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    QFile file(QStringLiteral("1.bmp"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
    try {
        const QImage image = loadPicture(QStringLiteral("1.bmp"));
        if (image.isNull())
            __builtin_trap(); // a success must carry a picture
    } catch (const RuntimeError &error) {
        if (error.number() != ErrorNumber::InvalidPicture)
            __builtin_trap(); // the file is there and regular: only its content can be wrong
    }
    return 0;
}
