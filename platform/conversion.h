#pragma once

#include <QStringView>
#include <cstdint>

// Text to a 32-bit signed integer: ASCII decimal digits with an optional sign,
// surrounded by any number of blanks (spaces and tabs). Throws RuntimeError:
// TypeMismatch for anything else (empty text included), Overflow outside the
// 32-bit range.
std::int32_t textToInteger(QStringView text);
