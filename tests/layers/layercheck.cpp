// Compiled once per layer, linked as that layer: it must see the layers
// below it and none above, or this does not build.
#define SEES(header) __has_include(header)

#if defined(LAYER_FILES)
#if SEES("qr/qrrenderer.h") || SEES("xlsxdocument.h")
#error "files/ sees a layer above it"
#endif
#elif defined(LAYER_QR)
#if !SEES("files/replacefile.h") || SEES("batch/batchengine.h") || SEES("xlsxdocument.h")
#error "qr/ does not see files/, or sees a layer above it"
#endif
#elif defined(LAYER_BATCH)
#if !SEES("qr/qrrenderer.h") || !SEES("xlsxdocument.h") || SEES("ui/kestrova.h") || SEES("xlsx/sheetparser.h")
#error "batch/ does not see qr/ and the workbook module's public headers, or sees more"
#endif
#elif defined(LAYER_UI)
#if !SEES("batch/batchengine.h") || SEES("xlsx/sheetparser.h")
#error "ui/ does not see batch/, or sees the workbook module's insides"
#endif
#endif

int layerCheck()
{
    return 0;
}
