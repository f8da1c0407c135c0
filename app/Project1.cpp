// Program entry: the application object, the main window, the message loop.
// Start-up steps (FormCreate) and the close handling belong to the main window.

#include <QApplication>

#include "Unit1.h"

TForm1* Form1 = nullptr;

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    TForm1 form;
    Form1 = &form;
    form.show();
    const int result = QApplication::exec();
    Form1 = nullptr;
    return result;
}
