#include "ui/stylesheet.h"

const char kestrovaStyleSheet[] =
    "QWidget#Kestrova{background-color:#060a21/*#FFE9F7F5*/;color:white}\n"
    "QLabel{background-color:transparent;color:white}\n"
    "QLineEdit{background-color:transparent;color:white;border-radius: 5px;border: 1px solid green;}\n"
    "QCheckBox{background-color:transparent;color:white;border-radius: 5px;border: 1px solid green;}\n"
    "QComboBox{background-color:transparent;color:white;border-radius: 5px;border: 1px solid green;}\n"
    "QTextEdit{background-color:transparent;color:white;border-radius: 5px;border: 1px solid gray;}\n"
    "\n"
    "QPushButton{border: 1px solid #2193FF;border-radius:5px;background: transparent; color:white;}\n"
    "\n"
    "QMessageBox{background-color:#060a21;color:white;font-size:9px;}\n"
    "QMessageBox QLabel#qt_msgbox_label{color:white;font-size:9px;}\n"
    "QMessageBox QLabel#qt_msgboxex_icon_label{background-color:#060a21;color:white;font-size:9px;}\n"
    "QMessageBox QPushButton {border: 1px solid gray;border-radius: 8px;background-color: transparent;color: white;min-width: 60px;\n"
    "\tmin-height: 25px;font-size:9px;}";

const char progressStyleSheet[] = "QDialog#batchProgress{background-color:#060a21;color:white;font-size:9px;}";
