// The XML tokenizer, the active-tab edit of the workbook part and the
// selected-tab edit of a sheet part, on their own.

#include "xlsxtestutil.h"
#include "xlsx/bookview.h"
#include "xlsx/partreader.h"
#include "xlsx/selection.h"
#include "xlsx/sheetview.h"
#include "xlsx/workbookreader.h"
#include "xlsx/xlsxbook.h"
#include "xml/xmlreader.h"
#include "zip/zipentryreader.h"

#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

using namespace QXlsx::detail;
using Token = XmlReader::Token;

Q_DECLARE_METATYPE(QVector<int>)

namespace {

// The document's tokens in a line each: "<name depth", "</name depth", "text"
// (consecutive text joined); names are given as the test expects them (nameIs).
QStringList tokens(XmlReader &x, const QStringList &names, bool *ended)
{
    QStringList out;
    std::string text;
    *ended = false;
    const auto flush = [&]() {
        if (!text.empty())
            out << QLatin1String("\"") + QString::fromStdString(text) + QLatin1String("\"");
        text.clear();
    };
    const auto name = [&]() {
        for (const QString &n : names) {
            if (x.nameIs(n.toLatin1().constData()))
                return n;
        }
        return QStringLiteral("?");
    };
    for (;;) {
        const Token t = x.next();
        if (t != Token::Text)
            flush();
        if (t == Token::EndDocument) {
            *ended = true;
            return out;
        }
        if (t == Token::Invalid)
            return out;
        if (t == Token::StartElement)
            out << QStringLiteral("<%1 %2").arg(name()).arg(x.depth());
        else if (t == Token::EndElement)
            out << QStringLiteral("</%1 %2").arg(name()).arg(x.depth());
        else
            x.appendText(&text);
    }
}

// Reads the whole document, true when it is well-formed.
bool wellFormed(XmlReader &x)
{
    for (;;) {
        const Token t = x.next();
        if (t == Token::EndDocument)
            return true;
        if (t == Token::Invalid)
            return false;
    }
}

// Bytes of a zip holding one entry, for reading it the way parts are read.
QByteArray zipOf(const QByteArray &content)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("one.zip"));
    if (!xlsxtest::writeZip(path, {{QStringLiteral("part.xml"), content}}))
        return QByteArray();
    return xlsxtest::readFile(path);
}

QByteArray utf16(const QString &s, bool bigEndian, bool bom)
{
    QByteArray out;
    if (bom)
        out += bigEndian ? QByteArray("\xfe\xff", 2) : QByteArray("\xff\xfe", 2);
    for (const QChar c : s) {
        const char hi = char(c.unicode() >> 8);
        const char lo = char(c.unicode() & 0xff);
        out.append(bigEndian ? hi : lo).append(bigEndian ? lo : hi);
    }
    return out;
}

} // namespace

class TestXlsxParts : public QObject
{
    Q_OBJECT

private slots:
    void tokenStream();
    void namespacedAttributes();
    void notWellFormed_data();
    void notWellFormed();
    void longTextReadInPieces_data();
    void longTextReadInPieces();
    void otherEncodings_data();
    void otherEncodings();

    void markActiveTab_data();
    void markActiveTab();
    void markActiveTabRefuses_data();
    void markActiveTabRefuses();
    void markTabSelected_data();
    void markTabSelected();
    void partsNotEditedInOtherEncodings();
};

void TestXlsxParts::tokenStream()
{
    XmlReader x(QByteArray("\xef\xbb\xbf<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- a <comment> -->"
                           "<p:root xmlns:p=\"urn:p\" a=\"1\"><?pi <x>?><empty/>one &amp; &lt;two&gt; &#x41;&#66;&quot;&apos;\r\n"
                           "three\rfour<![CDATA[<kept> &amp;\r\n]]><p:child  b = 'x' >\xc3\xbc</p:child ></p:root>\n"));
    bool ended = false;
    const QStringList got = tokens(x, {QStringLiteral("root"), QStringLiteral("empty"), QStringLiteral("child")}, &ended);
    QVERIFY(ended);
    QCOMPARE(got, QStringList({QStringLiteral("<root 1"), QStringLiteral("<empty 2"), QStringLiteral("</empty 2"),
                               QStringLiteral("\"one & <two> AB\"'\nthree\nfour<kept> &amp;\n\""),
                               QStringLiteral("<child 2"), QString::fromUtf8("\"ü\""), QStringLiteral("</child 2"),
                               QStringLiteral("</root 1")}));
}

void TestXlsxParts::namespacedAttributes()
{
    const char *const ns[] = {"urn:rel", "urn:strict"};
    XmlReader x(QByteArray("<w xmlns:r=\"urn:rel\" xmlns:q=\"urn:other\"><s r:id=\"one\" q:id=\"no\" id=\"plain\" v=\" a\tb&#9;\r\n\"/>"
                           "<s xmlns:r=\"urn:other\" r:id=\"two\"/><s xmlns:q=\"urn:strict\" q:id=\"three\"/><s q:id=\"four\"/></w>"));
    QCOMPARE(x.next(), Token::StartElement);
    std::string v;
    QCOMPARE(x.next(), Token::StartElement);
    QVERIFY(x.attribute(ns, 2, "id", &v));
    QCOMPARE(v, std::string("one"));
    QVERIFY(x.attribute("id", &v));
    QCOMPARE(v, std::string("plain"));
    QVERIFY(x.attribute("v", &v));
    QCOMPARE(v, std::string(" a b\t ")); // white space normalised, a reference kept
    QVERIFY(!x.attribute("r:missing", &v));
    QCOMPARE(x.next(), Token::EndElement);
    QCOMPARE(x.next(), Token::StartElement);
    QVERIFY(!x.attribute(ns, 2, "id", &v)); // r rebound to another namespace here
    QCOMPARE(x.next(), Token::EndElement);
    QCOMPARE(x.next(), Token::StartElement);
    QVERIFY(x.attribute(ns, 2, "id", &v));
    QCOMPARE(v, std::string("three"));
    QCOMPARE(x.next(), Token::EndElement);
    QCOMPARE(x.next(), Token::StartElement);
    QVERIFY(!x.attribute(ns, 2, "id", &v)); // the binding above ended with its element
    QCOMPARE(x.next(), Token::EndElement);
    QCOMPARE(x.next(), Token::EndElement);
    QCOMPARE(x.next(), Token::EndDocument);
}

void TestXlsxParts::notWellFormed_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("only space") << QByteArray("  \n");
    QTest::newRow("text only") << QByteArray("hello");
    QTest::newRow("unclosed root") << QByteArray("<a><b/>");
    QTest::newRow("mismatched") << QByteArray("<a><b></a></b>");
    QTest::newRow("end tag longer") << QByteArray("<a></ab>");
    QTest::newRow("end tag shorter") << QByteArray("<ab></a>");
    QTest::newRow("end without start") << QByteArray("</a>");
    QTest::newRow("two roots") << QByteArray("<a/><b/>");
    QTest::newRow("text after root") << QByteArray("<a/>x");
    QTest::newRow("text before root") << QByteArray("x<a/>");
    QTest::newRow("unknown entity") << QByteArray("<a>&nbsp;</a>");
    QTest::newRow("bare ampersand") << QByteArray("<a>fish & chips</a>");
    QTest::newRow("unterminated reference") << QByteArray("<a>&amp</a>");
    QTest::newRow("reference to NUL") << QByteArray("<a>&#0;</a>");
    QTest::newRow("reference past Unicode") << QByteArray("<a>&#x110000;</a>");
    QTest::newRow("reference to a surrogate") << QByteArray("<a>&#xD800;</a>");
    QTest::newRow("empty character reference") << QByteArray("<a>&#x;</a>");
    QTest::newRow("less-than in attribute") << QByteArray("<a b=\"<\"/>");
    QTest::newRow("unquoted attribute") << QByteArray("<a b=1/>");
    QTest::newRow("attribute without value") << QByteArray("<a b/>");
    QTest::newRow("attributes run together") << QByteArray("<a b=\"1\"c=\"2\"/>");
    QTest::newRow("attribute twice") << QByteArray("<a b=\"1\" b=\"2\"/>");
    QTest::newRow("unterminated attribute") << QByteArray("<a b=\"1/>");
    QTest::newRow("bad reference in attribute") << QByteArray("<a b=\"&x;\"/>");
    QTest::newRow("name starting with digit") << QByteArray("<1a/>");
    QTest::newRow("space after less-than") << QByteArray("< a/>");
    QTest::newRow("slash without greater-than") << QByteArray("<a/ >");
    QTest::newRow("doctype") << QByteArray("<!DOCTYPE a><a/>");
    QTest::newRow("CDATA outside root") << QByteArray("<![CDATA[x]]><a/>");
    QTest::newRow("unterminated CDATA") << QByteArray("<a><![CDATA[x</a>");
    QTest::newRow("unterminated comment") << QByteArray("<a><!-- x</a>");
    QTest::newRow("unterminated PI") << QByteArray("<a><?x </a>");
    QTest::newRow("control character") << QByteArray("<a>\x01</a>");
    QTest::newRow("control character in attribute") << QByteArray("<a b=\"\x1f\"/>");
    QTest::newRow("control character in CDATA") << QByteArray("<a><![CDATA[\x02]]></a>");
    QTest::newRow("invalid UTF-8") << QByteArray("<a>\xff</a>");
    QTest::newRow("overlong UTF-8") << QByteArray("<a>\xc0\xaf</a>");
    QTest::newRow("UTF-8 surrogate") << QByteArray("<a>\xed\xa0\x80</a>");
    QTest::newRow("UTF-8 cut short") << QByteArray("<a>\xe6\x9d</a>");
    QTest::newRow("invalid UTF-8 in attribute") << QByteArray("<a b=\"\xc3\"/>");
    QTest::newRow("UTF-7 byte past ASCII") << QByteArray("<?xml version='1.0' encoding='utf-7'?><a>\xe9</a>");
    QTest::newRow("UTF-7 bits left over") << QByteArray("<?xml version='1.0' encoding='utf-7'?><a>+AOkA-</a>");
    QTest::newRow("UTF-7 lone surrogate") << QByteArray("<?xml version='1.0' encoding='utf-7'?><a>+2D0-</a>");
    QTest::newRow("unknown encoding") << QByteArray("<?xml version=\"1.0\" encoding=\"no-such-codec\"?><a/>");
    QTest::newRow("truncated start tag") << QByteArray("<a><b c=\"1\"");
    QTest::newRow("truncated end tag") << QByteArray("<a></a");
}

void TestXlsxParts::notWellFormed()
{
    QFETCH(QByteArray, xml);
    XmlReader whole(xml);
    QVERIFY(!wellFormed(whole));
    // The same read from a zip entry.
    Package package;
    QVERIFY(package.open(zipOf(xml), nullptr));
    EntryReader entry(package.bytes(), package.entry(0), 1 << 20);
    XmlReader streamed(&entry);
    QVERIFY(!wellFormed(streamed));
}

void TestXlsxParts::longTextReadInPieces_data()
{
    QTest::addColumn<int>("padding");
    for (int padding = 0; padding < 14; ++padding)
        QTest::newRow(qPrintable(QString::number(padding))) << padding;
}

// A text run longer than a read chunk comes in pieces; wherever a piece ends,
// the text must come out the same as when read whole.
void TestXlsxParts::longTextReadInPieces()
{
    QFETCH(int, padding);
    QByteArray xml = "<a>" + QByteArray(padding, 'p');
    while (xml.size() < 400000)
        xml += "&amp;\xc3\xbc\r\n\xf0\x9f\x98\x80&#x1F600;\xe6\x9d\xb1\rq";
    xml += "<b x=\"1\"/>" + QByteArray(70000, ' ') + "tail</a>";

    XmlReader whole(xml);
    bool ended = false;
    const QStringList expected = tokens(whole, {QStringLiteral("a"), QStringLiteral("b")}, &ended);
    QVERIFY(ended);
    QCOMPARE(expected.size(), 6);
    QVERIFY(!expected[1].contains(QLatin1Char('\r')));

    Package package;
    QVERIFY(package.open(zipOf(xml), nullptr));
    EntryReader entry(package.bytes(), package.entry(0), 1 << 24);
    XmlReader streamed(&entry);
    QCOMPARE(tokens(streamed, {QStringLiteral("a"), QStringLiteral("b")}, &ended), expected);
    QVERIFY(ended);
}

void TestXlsxParts::otherEncodings_data()
{
    QTest::addColumn<QByteArray>("xml");
    const QString doc = QString::fromUtf8("<?xml version=\"1.0\" encoding=\"UTF-16\"?><a b=\"é\">Grüße 東京 &amp; \xf0\x9f\x98\x80</a>");
    QTest::newRow("UTF-16LE with BOM") << utf16(doc, false, true);
    QTest::newRow("UTF-16BE with BOM") << utf16(doc, true, true);
    QTest::newRow("UTF-16LE without BOM") << utf16(doc, false, false);
    QTest::newRow("UTF-16BE without BOM") << utf16(doc, true, false);
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xef\xbb\xbf") + QString(doc).replace(QLatin1String("UTF-16"), QLatin1String("UTF-8")).toUtf8();
    const QByteArray latin1("<?xml version='1.0' encoding='ISO-8859-1'?><a b=\"\xe9\">Gr\xfc\xdf" "e &#x6771;&#x4EAC; &amp; &#x1F600;</a>");
    QTest::newRow("ISO-8859-1") << latin1;
    QTest::newRow("UTF-7") << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-7\"?><a b=\"+AOk\">Gr+APwA3w-e +Z3FOrA &amp; +2D3eAA</a>");
}

void TestXlsxParts::otherEncodings()
{
    QFETCH(QByteArray, xml);
    Package package;
    QVERIFY(package.open(zipOf(xml), nullptr));
    EntryReader entry(package.bytes(), package.entry(0), 1 << 20);
    XmlReader x(&entry);
    QCOMPARE(x.next(), Token::StartElement);
    QString b;
    QVERIFY(x.attribute("b", &b));
    QCOMPARE(b, QString::fromUtf8("é"));
    QCOMPARE(x.next(), Token::Text);
    std::string text;
    x.appendText(&text);
    QCOMPARE(QString::fromStdString(text), QString::fromUtf8("Grüße 東京 & \xf0\x9f\x98\x80"));
    QCOMPARE(x.next(), Token::EndElement);
    QCOMPARE(x.next(), Token::EndDocument);
}

void TestXlsxParts::markActiveTab_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<int>("tab");
    QTest::addColumn<int>("first");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray ns = "<workbook xmlns=\"urn:main\">";
    QTest::newRow("value replaced")
        << ns + "<bookViews><workbookView xWindow=\"0\" activeTab=\"1\" tabRatio=\"600\"/></bookViews><sheets/></workbook>" << 12 << 0
        << ns + "<bookViews><workbookView xWindow=\"0\" activeTab=\"12\" tabRatio=\"600\"/></bookViews><sheets/></workbook>";
    QTest::newRow("attribute added")
        << ns + "<bookViews>\n  <workbookView xWindow=\"0\"/>\n</bookViews><sheets/></workbook>" << 2 << 0
        << ns + "<bookViews>\n  <workbookView activeTab=\"2\" xWindow=\"0\"/>\n</bookViews><sheets/></workbook>";
    QTest::newRow("single quotes and spaces")
        << ns + "<bookViews><workbookView activeTab = '1' ></workbookView></bookViews><sheets/></workbook>" << 3 << 0
        << ns + "<bookViews><workbookView activeTab = '3' ></workbookView></bookViews><sheets/></workbook>";
    QTest::newRow("only the first view")
        << ns + "<bookViews><workbookView activeTab=\"1\"/><workbookView activeTab=\"1\"/></bookViews><sheets/></workbook>" << 0 << 0
        << ns + "<bookViews><workbookView activeTab=\"0\"/><workbookView activeTab=\"1\"/></bookViews><sheets/></workbook>";
    QTest::newRow("firstSheet moved back")
        << ns + "<bookViews><workbookView firstSheet=\"3\" activeTab=\"4\"/></bookViews><sheets/></workbook>" << 1 << 1
        << ns + "<bookViews><workbookView firstSheet=\"1\" activeTab=\"1\"/></bookViews><sheets/></workbook>";
    QTest::newRow("firstSheet added")
        << ns + "<bookViews><workbookView activeTab=\"1\"/></bookViews><sheets/></workbook>" << 2 << 1
        << ns + "<bookViews><workbookView firstSheet=\"1\" activeTab=\"2\"/></bookViews><sheets/></workbook>";
    QTest::newRow("firstSheet kept")
        << ns + "<bookViews><workbookView firstSheet=\"1\" activeTab=\"4\"/></bookViews><sheets/></workbook>" << 2 << 1
        << ns + "<bookViews><workbookView firstSheet=\"1\" activeTab=\"2\"/></bookViews><sheets/></workbook>";
    QTest::newRow("prefixed elements, prefixed attribute left alone")
        << QByteArray("<x:workbook xmlns:x=\"urn:main\"><x:bookViews><x:workbookView x:activeTab=\"7\"/></x:bookViews><x:sheets/></x:workbook>") << 1 << 0
        << QByteArray("<x:workbook xmlns:x=\"urn:main\"><x:bookViews><x:workbookView activeTab=\"1\" x:activeTab=\"7\"/></x:bookViews><x:sheets/></x:workbook>");
    QTest::newRow("empty bookViews element")
        << ns + "<bookViews/><sheets/></workbook>" << 1 << 0
        << ns + "<bookViews><workbookView activeTab=\"1\"/></bookViews><sheets/></workbook>";
    QTest::newRow("bookViews without views")
        << QByteArray("<x:workbook xmlns:x=\"urn:main\"><x:bookViews></x:bookViews><x:sheets/></x:workbook>") << 1 << 0
        << QByteArray("<x:workbook xmlns:x=\"urn:main\"><x:bookViews><x:workbookView activeTab=\"1\"/></x:bookViews><x:sheets/></x:workbook>");
    QTest::newRow("no bookViews")
        << QByteArray("<?xml version=\"1.0\"?>\n<x:workbook xmlns:x=\"urn:main\"><x:workbookPr/><x:sheets></x:sheets>"
                      "<x:extLst><x:bookViews><x:workbookView activeTab=\"0\"/></x:bookViews></x:extLst></x:workbook>") << 1 << 0
        << QByteArray("<?xml version=\"1.0\"?>\n<x:workbook xmlns:x=\"urn:main\"><x:workbookPr/><x:bookViews><x:workbookView activeTab=\"1\"/></x:bookViews>"
                      "<x:sheets></x:sheets><x:extLst><x:bookViews><x:workbookView activeTab=\"0\"/></x:bookViews></x:extLst></x:workbook>");
    QTest::newRow("markup in comments, values and other elements")
        << ns + "<!-- <bookViews><workbookView activeTab=\"9\"/></bookViews> --><fileVersion appName=\"a>b\"/>"
                "<mc:AlternateContent xmlns:mc=\"urn:mc\"><mc:Choice><workbookView activeTab=\"8\"/></mc:Choice></mc:AlternateContent>"
                "<?pi <bookViews/>?><bookViews><workbookView activeTab=\"1\"/></bookViews><sheets/></workbook>" << 0 << 0
        << ns + "<!-- <bookViews><workbookView activeTab=\"9\"/></bookViews> --><fileVersion appName=\"a>b\"/>"
                "<mc:AlternateContent xmlns:mc=\"urn:mc\"><mc:Choice><workbookView activeTab=\"8\"/></mc:Choice></mc:AlternateContent>"
                "<?pi <bookViews/>?><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets/></workbook>";
    const QString wide = QString::fromUtf8("<workbook xmlns=\"urn:main\"><fileVersion appName=\"Grüße\"/><bookViews><workbookView activeTab=\"1\"/></bookViews><sheets/></workbook>");
    QTest::newRow("UTF-16LE") << utf16(wide, false, true) << 0 << 0 << utf16(QString(wide).replace(QLatin1String("activeTab=\"1\""), QLatin1String("activeTab=\"0\"")), false, true);
    QTest::newRow("UTF-16BE, view added") << utf16(QString(wide).remove(QRegularExpression(QStringLiteral("<bookViews>.*</bookViews>"))), true, true) << 2 << 0
                                          << utf16(QString(wide).replace(QLatin1String("activeTab=\"1\""), QLatin1String("activeTab=\"2\"")), true, true);
}

void TestXlsxParts::markActiveTab()
{
    QFETCH(QByteArray, xml);
    QFETCH(int, tab);
    QFETCH(int, first);
    QFETCH(QByteArray, expected);
    QByteArray out;
    QVERIFY(QXlsx::detail::markActiveTab(xml, tab, first, &out));
    QCOMPARE(out, expected);
    int readTab = -1, readFirst = -1;
    QVERIFY(readBookView(out, &readTab, &readFirst));
    QCOMPARE(readTab, tab);
    QCOMPARE(readFirst, first);
}

void TestXlsxParts::markActiveTabRefuses_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::newRow("not a workbook") << QByteArray("<worksheet><bookViews><workbookView/></bookViews></worksheet>");
    QTest::newRow("no sheets and no views") << QByteArray("<workbook><workbookPr/></workbook>");
    QTest::newRow("doctype") << QByteArray("<!DOCTYPE workbook><workbook><sheets/></workbook>");
    QTest::newRow("firstSheet not a number") << QByteArray("<workbook><bookViews><workbookView firstSheet=\"x\"/></bookViews><sheets/></workbook>");
    QTest::newRow("cut short") << QByteArray("<workbook><bookViews><workbookView activeTab=\"1");
    QTest::newRow("odd UTF-16") << QByteArray("\xff\xfe<\0w\0", 7);
}

void TestXlsxParts::markActiveTabRefuses()
{
    QFETCH(QByteArray, xml);
    QByteArray out;
    QVERIFY(!QXlsx::detail::markActiveTab(xml, 1, 0, &out));
}

void TestXlsxParts::markTabSelected_data()
{
    QTest::addColumn<QByteArray>("xml");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray ws = "<worksheet xmlns=\"urn:main\"><sheetPr><tabColor rgb=\"FF00FF00\"/></sheetPr><dimension ref=\"A1\"/>";
    const QByteArray rest = "<sheetFormatPr defaultRowHeight=\"15\"/><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>"
                            "<extLst><ext><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></ext></extLst></worksheet>";
    QTest::newRow("cleared")
        << ws + "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"><selection activeCell=\"B2\"/></sheetView></sheetViews>" + rest << false
        << ws + "<sheetViews><sheetView tabSelected=\"0\" workbookViewId=\"0\"><selection activeCell=\"B2\"/></sheetView></sheetViews>" + rest;
    QTest::newRow("Calc's true cleared")
        << ws + "<sheetViews><sheetView showGrid=\"true\" tabSelected=\"true\" workbookViewId=\"0\"/></sheetViews>" + rest << false
        << ws + "<sheetViews><sheetView showGrid=\"true\" tabSelected=\"0\" workbookViewId=\"0\"/></sheetViews>" + rest;
    QTest::newRow("added")
        << ws + "<sheetViews>\n<sheetView workbookViewId=\"0\"/>\n</sheetViews>" + rest << true
        << ws + "<sheetViews>\n<sheetView tabSelected=\"1\" workbookViewId=\"0\"/>\n</sheetViews>" + rest;
    QTest::newRow("false set")
        << ws + "<sheetViews><sheetView tabSelected=\"false\" workbookViewId=\"0\"/></sheetViews>" + rest << true
        << ws + "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews>" + rest;
    QTest::newRow("only the first workbook view's")
        << ws + "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"1\"/><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews>" + rest << false
        << ws + "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"1\"/><sheetView tabSelected=\"0\" workbookViewId=\"0\"/></sheetViews>" + rest;
    QTest::newRow("not selected, left alone")
        << ws + "<sheetViews><sheetView workbookViewId=\"0\"/></sheetViews>" + rest << false
        << ws + "<sheetViews><sheetView workbookViewId=\"0\"/></sheetViews>" + rest;
    QTest::newRow("prefixed chart sheet")
        << QByteArray("<x:chartsheet xmlns:x=\"urn:main\"><x:sheetPr/><x:sheetViews><x:sheetView tabSelected='1' zoomToFit=\"1\" workbookViewId=\"0\"/>"
                      "</x:sheetViews><x:drawing/></x:chartsheet>") << false
        << QByteArray("<x:chartsheet xmlns:x=\"urn:main\"><x:sheetPr/><x:sheetViews><x:sheetView tabSelected='0' zoomToFit=\"1\" workbookViewId=\"0\"/>"
                      "</x:sheetViews><x:drawing/></x:chartsheet>");
    const QString wide = QString::fromUtf8("<worksheet xmlns=\"urn:main\"><sheetPr codeName=\"Grüße\"/><sheetViews><sheetView workbookViewId=\"0\"/></sheetViews><sheetData/></worksheet>");
    QTest::newRow("UTF-16BE") << utf16(wide, true, true) << true
                              << utf16(QString(wide).replace(QLatin1String("<sheetView "), QLatin1String("<sheetView tabSelected=\"1\" ")), true, true);
}

// Only the sheetView start tags of the first workbook view change, and the
// reader reads back what was asked for.
void TestXlsxParts::markTabSelected()
{
    QFETCH(QByteArray, xml);
    QFETCH(bool, selected);
    QFETCH(QByteArray, expected);
    QByteArray out;
    QVERIFY(QXlsx::detail::markTabSelected(xml, selected, &out));
    QCOMPARE(out, expected);
    bool hasView = false, readSelected = !selected;
    QVERIFY(readTabSelected(out, &hasView, &readSelected));
    QVERIFY(hasView);
    QCOMPARE(readSelected, selected);
}

// In UTF-7 "+ADw-" is a '<' that a byte-wise edit would not see: such a part
// is left for the save to refuse rather than edited wrongly.
void TestXlsxParts::partsNotEditedInOtherEncodings()
{
    const QByteArray sheet = "<?xml version=\"1.0\" encoding=\"UTF-7\"?><worksheet xmlns=\"urn:main\"><sheetViews>"
                             "+ADw-sheetView tabSelected=\"1\" workbookViewId=\"0\"/+AD4-</sheetViews><sheetData/></worksheet>";
    bool hasView = false, selected = false;
    QVERIFY(readTabSelected(sheet, &hasView, &selected));
    QVERIFY(hasView && selected);
    QByteArray out;
    QVERIFY(!QXlsx::detail::markTabSelected(sheet, false, &out));
    const QByteArray book = "<?xml version='1.0' encoding='utf-7'?><workbook><bookViews><workbookView/></bookViews><sheets/></workbook>";
    QVERIFY(!QXlsx::detail::markActiveTab(book, 1, 0, &out));
}

QTEST_GUILESS_MAIN(TestXlsxParts)
#include "tst_xlsxparts.moc"
