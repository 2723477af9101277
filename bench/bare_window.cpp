// The floor of the shell's start: a bare Qt widgets program that shows one window of the
// shell's size, saves a picture of it as `erp-shell --screenshot` does, and ends.
#include <QApplication>
#include <QLabel>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("janela")));
    window.resize(1024, 700);
    window.show();
    QApplication::processEvents();
    const QStringList args = QApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--screenshot"));
    if (at > 0 && at + 1 < args.size())
        return window.grab().save(args.at(at + 1), "PNG") ? 0 : 1;
    return 0;
}
