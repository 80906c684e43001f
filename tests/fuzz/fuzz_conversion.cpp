// Any text, converted: a value that prints back to the same digits, or a
// RuntimeError, never a crash.
#include "conversion.h"
#include "runtime_error.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        const std::int32_t value = textToInteger(text);
        // A value that converted must read back from its own decimal form.
        if (textToInteger(QString::number(value)) != value)
            __builtin_trap();
    } catch (const RuntimeError &error) {
        if (error.number() != ErrorNumber::TypeMismatch && error.number() != ErrorNumber::Overflow)
            __builtin_trap();
    }
    return 0;
}
