#include "conversion.h"

#include "runtime_error.h"

#include <limits>

namespace {
bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}
bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}
} // namespace

std::int32_t textToInteger(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;

    bool negative = false;
    if (begin < end && (text[begin] == u'+' || text[begin] == u'-'))
        negative = text[begin++] == u'-';
    if (begin == end)
        throw RuntimeError(ErrorNumber::TypeMismatch);

    // The magnitude may reach 2^31 for the negative limit; once it is past that
    // the digits are still checked, so "99999999999x" is a mismatch, not an overflow.
    constexpr std::int64_t limit = std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1;
    std::int64_t magnitude = 0;
    bool overflow = false;
    for (qsizetype i = begin; i < end; ++i) {
        if (!isAsciiDigit(text[i]))
            throw RuntimeError(ErrorNumber::TypeMismatch);
        if (!overflow) {
            magnitude = magnitude * 10 + (text[i].unicode() - u'0');
            overflow = magnitude > limit;
        }
    }
    if (overflow || (!negative && magnitude == limit))
        throw RuntimeError(ErrorNumber::Overflow);
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}
