// tarvek-open PROGRAM [PATH]: starts PROGRAM, the player, in the folder PATH,
// or in the folder that holds PATH when that is a file, such as a frame; with
// no PATH, in the folder it was started in. The menu's entry runs it with no
// PATH, in the demo's folder; a file manager's action or "Open With" runs it
// with what the user opened. The player itself reads no command line and plays
// the folder it is started in.
//
// PATH comes from outside and is only ever data: it is never read for options,
// never handed to a shell or to Qt, and its bytes are taken as they are,
// whatever encoding they are in. Where the folder cannot be entered, or the
// player cannot be started, a message box says why (a file manager shows no
// terminal) and the status is 1; the player is then never started elsewhere.

#include "form1.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Enters the folder PATH names, or the one that holds the file it names;
// returns 0 or the errno that stopped it. Goes one name at a time, so that a
// path longer than the system takes in one call is entered too.
int enterFolderOf(const std::string &path)
{
    if (path.empty())
        return ENOENT;
    std::vector<std::string> names;
    for (std::size_t at = 0; at < path.size();) {
        const std::size_t end = std::min(path.find('/', at), path.size());
        if (end > at)
            names.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    // O_PATH: a folder that may be entered but not listed is entered too.
    constexpr int Folder = O_PATH | O_DIRECTORY | O_CLOEXEC;
    int folder = ::open(path.front() == '/' ? "/" : ".", Folder);
    for (std::size_t i = 0; folder >= 0 && i < names.size(); ++i) {
        const int next = ::openat(folder, names[i].c_str(), Folder);
        const int error = errno;
        struct stat info {};
        // The last name may be a file (never opened): its folder is the one entered.
        if (next < 0 && error == ENOTDIR && i + 1 == names.size()
            && ::fstatat(folder, names[i].c_str(), &info, 0) == 0)
            break;
        ::close(folder);
        folder = next;
        errno = error;
    }
    if (folder < 0)
        return errno;
    const int error = ::fchdir(folder) == 0 ? 0 : errno;
    ::close(folder);
    return error;
}

QString reason(int error)
{
    switch (error) {
    case ENOENT:
        return QStringLiteral("Такой папки или файла нет.");
    case ENOTDIR:
        return QStringLiteral("Это не папка.");
    case EACCES:
    case EPERM:
        return QStringLiteral("Нет доступа.");
    case ENAMETOOLONG:
        return QStringLiteral("Слишком длинное имя.");
    case ELOOP:
        return QStringLiteral("Слишком много символических ссылок.");
    default:
        return QStringLiteral("Ошибка системы номер %1.").arg(error);
    }
}

// A name as the user can read it: any bytes shown, a very long one shortened
// in the middle, so that the box still fits on the screen.
QString shown(const char *name)
{
    const QString text = QFile::decodeName(name);
    return text.size() <= 200 ? text : text.left(90) + QStringLiteral(" … ") + text.right(90);
}

int refuse(const QString &text)
{
    // Qt is handed a name of the launcher's own: none of what came from outside.
    char name[] = "tarvek-open";
    int qtArgc = 1;
    char *qtArgv[] = {name, nullptr};
    QApplication app(qtArgc, qtArgv);
    QGuiApplication::setDesktopFileName(QStringLiteral(TARVEK_APP_ID));
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setFont(uiFont());
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Тарвек"), text, QMessageBox::NoButton);
    box.setObjectName(QStringLiteral("OpenWithReport"));
    box.setTextFormat(Qt::PlainText); // a folder may be named like markup
    box.addButton(QStringLiteral("ОК"), QMessageBox::AcceptRole);
    box.exec();
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2 && argc != 3)
        return refuse(QStringLiteral("Тарвеку нужно указать одну папку или один кадр."));
    if (const int error = argc == 3 ? enterFolderOf(argv[2]) : 0)
        return refuse(QStringLiteral("Тарвек не может открыть папку\n«%1».\n\n%2").arg(shown(argv[2]), reason(error)));
    char *playerArgv[] = {argv[1], nullptr};
    ::execv(argv[1], playerArgv);
    const int error = errno;
    return refuse(QStringLiteral("Тарвек не запускается:\n«%1».\n\n%2").arg(shown(argv[1]), reason(error)));
}
