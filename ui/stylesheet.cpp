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

// The bar's own text inside it, white on the bar's dark trough and its blue
// chunk alike (the Windows style draws it beside the bar, black on navy);
// "取消" as the boxes draw their buttons.
const char progressStyleSheet[] =
    "QDialog#batchProgress{background-color:#060a21;color:white;font-size:9px;}\n"
    "QDialog#batchProgress QProgressBar{border:1px solid gray;border-radius:5px;background-color:#1b2142;"
    "color:white;text-align:center;font-size:9px;min-height:16px;}\n"
    "QDialog#batchProgress QProgressBar::chunk{background-color:#1565c0;border-radius:4px;}\n"
    "QDialog#batchProgress QPushButton{border:1px solid gray;border-radius:8px;background-color:transparent;"
    "color:white;min-width:60px;min-height:25px;font-size:9px;}";

const char fileDialogStyleSheet[] =
    "QFileDialog{background-color:#060a21;color:white}\n"
    "QLineEdit,QComboBox{background-color:white;color:#060a21;border:1px solid gray;border-radius:5px;padding:1px 4px;"
    "selection-background-color:#1565c0;selection-color:white}\n"
    "QLineEdit:focus,QComboBox:focus{border-color:#2193FF}\n"
    "QComboBox::drop-down{border:none;width:16px}\n"
    "QComboBox::down-arrow{width:0;height:0;border-left:4px solid white;border-right:4px solid white;"
    "border-top:5px solid #060a21}\n"
    "QAbstractItemView{background-color:white;color:#060a21;selection-background-color:#1565c0;selection-color:white}\n"
    "QHeaderView::section{background-color:#dfe3ec;color:#060a21;border:none;border-right:1px solid #b0b7c8;"
    "border-bottom:1px solid #b0b7c8;padding:2px 4px}\n"
    "QToolButton{background-color:#dfe3ec;border:1px solid #2193FF;border-radius:3px;padding:1px}\n"
    "QToolButton:checked,QToolButton:pressed{background-color:#a9cdf5}\n"
    "QPushButton{min-width:60px;min-height:25px;padding:0 8px}";
