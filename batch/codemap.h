#pragma once

#include <QMap>
#include <QString>

// Record key to QR payload, ascending by UTF-16 code units; one entry per key.
using CodeMap = QMap<QString, QString>;
