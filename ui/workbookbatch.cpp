#include "ui/kestrova.h"

#include "ui/batchprogress.h"
#include "ui/boxes.h"
#include "ui/startfolder.h"

#include "batch/batchengine.h"
#include "batch/batchmessages.h"

#include <QFileDialog>

void Kestrova::createFromExcel()
{
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("选择文件"), dialogStartFolder(),
                                                      QStringLiteral("(*.xlsx);;(*.xls);;(*.csv)"));
    if (path.isEmpty()) {
        showWarning(this, QStringLiteral("选择文件路径为空"));
        return;
    }
    BatchResult result;
    bool closeRequested = false;
    {
        BatchProgress progress(this);
        result = runBatch(path, BatchOptions(), &progress);
        closeRequested = progress.closeRequested();
    }
    for (const BatchMessage &warning : batchWarnings(result))
        showWarning(this, warning.text, warning.details);
    if (result.cancelled) {
        if (closeRequested)
            close();
        return;
    }
    if (result.succeeded())
        offerToOpen(this, closingText(result), QStringLiteral("打开文件"), path);
    else
        showWarning(this, closingText(result));
}
