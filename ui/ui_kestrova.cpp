#include "ui/ui_kestrova.h"

#include "ui/stylesheet.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

// The buttons' texts whole with whatever font the system has: a button is
// never squeezed below the height its text needs ("从Excel文件" over "生成"),
// and the lower band may grow past its 80 pixels to hold them both.
void fitButtons(QWidget *band, QVBoxLayout *column, QPushButton *upper, QPushButton *lower)
{
    upper->ensurePolished();
    lower->ensurePolished();
    upper->setMinimumHeight(std::max(upper->minimumHeight(), upper->sizeHint().height()));
    lower->setMinimumHeight(std::max(lower->minimumHeight(), lower->sizeHint().height()));
    const QMargins margins = band->layout()->contentsMargins();
    const int needed = margins.top() + upper->minimumHeight() + column->spacing() + lower->minimumHeight()
        + margins.bottom();
    band->setMaximumHeight(std::max(band->maximumHeight(), needed));
}

} // namespace

void Ui_Kestrova::setupUi(QWidget *Kestrova)
{
    if (Kestrova->objectName().isEmpty())
        Kestrova->setObjectName(QString::fromUtf8("Kestrova"));
    Kestrova->resize(486, 580);
    Kestrova->setStyleSheet(QString::fromLatin1(kestrovaStyleSheet));

    verticalLayout = new QVBoxLayout(Kestrova);
    verticalLayout->setSpacing(6);
    verticalLayout->setContentsMargins(11, 11, 11, 11);
    verticalLayout->setObjectName(QString::fromUtf8("verticalLayout"));

    widget = new QWidget(Kestrova);
    widget->setObjectName(QString::fromUtf8("widget"));
    horizontalLayout = new QHBoxLayout(widget);
    horizontalLayout->setSpacing(6);
    horizontalLayout->setContentsMargins(11, 11, 11, 11);
    horizontalLayout->setObjectName(QString::fromUtf8("horizontalLayout"));
    image = new QLabel(widget);
    image->setObjectName(QString::fromUtf8("image"));
    image->setMinimumSize(QSize(450, 450));
    image->setMaximumSize(QSize(450, 450));
    horizontalLayout->addWidget(image);
    verticalLayout->addWidget(widget);

    widget_2 = new QWidget(Kestrova);
    widget_2->setObjectName(QString::fromUtf8("widget_2"));
    widget_2->setMaximumSize(QSize(16777215, 80));
    horizontalLayout_2 = new QHBoxLayout(widget_2);
    horizontalLayout_2->setSpacing(6);
    horizontalLayout_2->setContentsMargins(11, 11, 11, 11);
    horizontalLayout_2->setObjectName(QString::fromUtf8("horizontalLayout_2"));
    textEdit = new QTextEdit(widget_2);
    textEdit->setObjectName(QString::fromUtf8("textEdit"));
    horizontalLayout_2->addWidget(textEdit);

    widget_3 = new QWidget(widget_2);
    widget_3->setObjectName(QString::fromUtf8("widget_3"));
    verticalLayout_2 = new QVBoxLayout(widget_3);
    verticalLayout_2->setSpacing(6);
    verticalLayout_2->setObjectName(QString::fromUtf8("verticalLayout_2"));
    verticalLayout_2->setContentsMargins(0, 0, 0, 0);
    excelBtn = new QPushButton(widget_3);
    excelBtn->setObjectName(QString::fromUtf8("excelBtn"));
    excelBtn->setMinimumSize(QSize(0, 30));
    verticalLayout_2->addWidget(excelBtn);
    pngBtn = new QPushButton(widget_3);
    pngBtn->setObjectName(QString::fromUtf8("pngBtn"));
    pngBtn->setMinimumSize(QSize(0, 20));
    verticalLayout_2->addWidget(pngBtn);
    horizontalLayout_2->addWidget(widget_3);
    verticalLayout->addWidget(widget_2);

    Kestrova->setWindowTitle(QCoreApplication::translate("Kestrova", "二维码生成工具", nullptr));
    image->setText(QString());
    excelBtn->setText(QCoreApplication::translate("Kestrova", "从Excel文件\n生成", nullptr));
    pngBtn->setText(QCoreApplication::translate("Kestrova", "导出PNG", nullptr));

    fitButtons(widget_2, verticalLayout_2, excelBtn, pngBtn);
}
