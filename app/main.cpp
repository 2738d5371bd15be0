#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmora 1.0");
    QLabel placeholder("Velmora");
    placeholder.resize(638, 512);
    placeholder.show();
    return app.exec();
}
