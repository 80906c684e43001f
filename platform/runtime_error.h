#pragma once

#include <QString>

// Run-time error numbers. They are part of what the user sees in a report and
// are listed in the README, so a number, once given, never changes meaning.
namespace ErrorNumber {
inline constexpr int Overflow = 6;
inline constexpr int TypeMismatch = 13;
inline constexpr int FileNotFound = 53;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccess = 75;
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int InvalidPicture = 481;
} // namespace ErrorNumber

// The one error type of the program: a failed runtime operation.
class RuntimeError
{
public:
    explicit RuntimeError(int number, QString fileName = {});

    int number() const { return m_number; }
    QString description() const;
    // The file the failed operation was about; empty when it was not about a file.
    const QString &fileName() const { return m_fileName; }

private:
    int m_number;
    QString m_fileName;
};

// The Russian description of a run-time error number.
QString errorDescription(int number);
