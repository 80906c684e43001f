#include "runtime_error.h"

RuntimeError::RuntimeError(int number, QString fileName)
    : m_number(number), m_fileName(std::move(fileName))
{
}

QString RuntimeError::description() const
{
    return errorDescription(m_number);
}

QString errorDescription(int number)
{
    switch (number) {
    case ErrorNumber::Overflow: return QStringLiteral("Переполнение");
    case ErrorNumber::TypeMismatch: return QStringLiteral("Несоответствие типов");
    case ErrorNumber::FileNotFound: return QStringLiteral("Файл не найден");
    case ErrorNumber::PermissionDenied: return QStringLiteral("Доступ запрещён");
    case ErrorNumber::PathFileAccess: return QStringLiteral("Ошибка доступа к пути или файлу");
    case ErrorNumber::InvalidPropertyValue: return QStringLiteral("Недопустимое значение свойства");
    case ErrorNumber::InvalidPicture: return QStringLiteral("Недопустимое изображение");
    }
    return QStringLiteral("Ошибка, определяемая приложением");
}
