// The dispatch contract and the imaging components' answers to it.
#include "imaging/admin/img_admin.h"
#include "imaging/edit/img_edit.h"
#include "imaging/scan/img_scan.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTest>

#include <functional>
#include <memory>
#include <tuple>

using imaging::AccessKind;
using imaging::Variant;
namespace Num = imaging::ErrorNumber;

using ControlMaker = std::function<std::unique_ptr<imaging::DispatchControl>()>;
Q_DECLARE_METATYPE(Variant)
Q_DECLARE_METATYPE(QList<Variant>)
Q_DECLARE_METATYPE(AccessKind)
Q_DECLARE_METATYPE(ControlMaker)

namespace {

ControlMaker scan = [] { return std::make_unique<imaging::ImgScan>(); };
ControlMaker edit = [] { return std::make_unique<imaging::ImgEdit>(); };
ControlMaker admin = [] { return std::make_unique<imaging::ImgAdmin>(); };

void access(imaging::DispatchControl& c, AccessKind kind, int member, const QList<Variant>& args)
{
    switch (kind) {
    case AccessKind::Put:
        c.put(member, args.value(0));
        break;
    case AccessKind::Call:
        c.call(member, args);
        break;
    case AccessKind::Read:
        c.read(member);
        break;
    }
}

} // namespace

class TestDispatch : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void toInt32_data();
    void toInt32();
    void toInt32Refuses_data();
    void toInt32Refuses();
    void componentsRefuse_data();
    void componentsRefuse();
    void adminTestsPageFile();
    void editShowsPageFile();
};

void TestDispatch::toInt32_data()
{
    QTest::addColumn<Variant>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("16-bit") << Variant::int16(-3) << -3;
    QTest::newRow("32-bit") << Variant::int32(70000) << 70000;
    QTest::newRow("true") << Variant::boolean(true) << -1;
    QTest::newRow("number as text") << Variant::text(QStringLiteral(" 12 ")) << 12;
}

void TestDispatch::toInt32()
{
    QFETCH(Variant, value);
    QFETCH(int, expected);
    QCOMPARE(value.toInt32(), expected);
}

void TestDispatch::toInt32Refuses_data()
{
    QTest::addColumn<Variant>("value");
    QTest::addColumn<int>("number");
    QTest::newRow("word") << Variant::text(QStringLiteral("zwölf")) << Num::TypeMismatch;
    QTest::newRow("too large") << Variant::text(QStringLiteral("3000000000")) << Num::Overflow;
    QTest::newRow("omitted") << Variant::missing() << Num::TypeMismatch;
    QTest::newRow("empty") << Variant() << Num::TypeMismatch;
}

void TestDispatch::toInt32Refuses()
{
    QFETCH(Variant, value);
    QFETCH(int, number);
    const QString error = failureOf([&value] { value.toInt32(); });
    QVERIFY2(error.startsWith(QString::number(number) + QLatin1Char(' ')) &&
                 !error.section(QLatin1Char(' '), 1).isEmpty(),
             qPrintable(error));
}

void TestDispatch::componentsRefuse_data()
{
    QTest::addColumn<ControlMaker>("make");
    QTest::addColumn<AccessKind>("kind");
    QTest::addColumn<int>("member");
    QTest::addColumn<QList<Variant>>("args");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("source");

    const QString S = QStringLiteral("ScanLibCtl.ImgScan");
    const QString E = QStringLiteral("ImgeditLibCtl.ImgEdit");
    const QString A = QStringLiteral("AdminLibCtl.ImgAdmin");
    const Variant path = Variant::text(QStringLiteral("/x"));
    using L = QList<Variant>;
    QTest::newRow("scan: unknown put")
        << scan << AccessKind::Put << 99 << L{Variant::int32(1)} << Num::MemberNotFound << S;
    QTest::newRow("scan: unknown call")
        << scan << AccessKind::Call << 7 << L{} << Num::MemberNotFound << S;
    QTest::newRow("scan: page file as number")
        << scan << AccessKind::Put << 1 << L{Variant::int32(1)} << Num::TypeMismatch << S;
    QTest::newRow("scan: set-up flag as text")
        << scan << AccessKind::Put << 16 << L{path} << Num::TypeMismatch << S;
    QTest::newRow("scan: file type 2") << scan << AccessKind::Put << 9 << L{Variant::int32(2)}
                                       << int(imaging::ErrorNumber::ScanUnsupportedValue) << S;
    QTest::newRow("scan: omitted value")
        << scan << AccessKind::Put << 14 << L{Variant::missing()} << Num::TypeMismatch << S;
    QTest::newRow("scan: 103 with an argument")
        << scan << AccessKind::Call << 103 << L{Variant::int32(0)} << Num::BadParamCount << S;
    QTest::newRow("edit: 349 short")
        << edit << AccessKind::Call << 349 << L{Variant::int32(210)} << Num::BadParamCount << E;
    QTest::newRow("edit: 343 file as number")
        << edit << AccessKind::Call << 343 << L{Variant::int32(5)} << Num::TypeMismatch << E;
    QTest::newRow("edit: 352 other mode") << edit << AccessKind::Call << 352 << L{Variant::int16(1)}
                                          << int(imaging::ErrorNumber::EditUnsupportedValue) << E;
    QTest::newRow("edit: unknown read")
        << edit << AccessKind::Read << 500 << L{} << Num::MemberNotFound << E;
    QTest::newRow("admin: 114 with text")
        << admin << AccessKind::Call << 114 << L{path} << Num::TypeMismatch << A;
    QTest::newRow("admin: unknown put")
        << admin << AccessKind::Put << 5 << L{path} << Num::MemberNotFound << A;
}

void TestDispatch::componentsRefuse()
{
    QFETCH(ControlMaker, make);
    QFETCH(AccessKind, kind);
    QFETCH(int, member);
    QFETCH(QList<Variant>, args);
    QFETCH(int, number);
    QFETCH(QString, source);
    QString from;
    const QString error = failureOf([&] { access(*make(), kind, member, args); }, &from);
    QVERIFY2(error.startsWith(QString::number(number) + QLatin1Char(' ')) &&
                 error.section(QLatin1Char(' '), 1).size() > 10,
             qPrintable(error));
    QCOMPARE(from, source);
}

void TestDispatch::adminTestsPageFile()
{
    TestHome home;
    const QString file = home.path() + QStringLiteral("/Kopyra.tif");
    imaging::ImgAdmin a;
    a.put(4, Variant::text(file));
    QCOMPARE(a.call(114, {Variant::int32(0)}).toInt32(), 0);
    QDir().mkdir(file);
    QCOMPARE(a.call(114, {Variant::int32(0)}).toInt32(), 0); // a folder is no page file
    QDir().rmdir(file);
    QVERIFY(writeFile(file, {}));
    QCOMPARE(a.call(114, {Variant::int32(0)}).toInt32(), -1);
}

void TestDispatch::editShowsPageFile()
{
    TestHome home;
    QString file = home.path() + QStringLiteral("/Kopyra.tif");
    QImage page(40, 60, QImage::Format_RGB32);
    page.fill(Qt::red);
    QVERIFY(page.save(file, "TIFF"));
    imaging::ImgEdit e;
    const QList<Variant> show = showArgs(&file);
    e.call(343, show);
    QVERIFY(e.hasPage());
    QCOMPARE(e.page().size(), QSize(40, 60));

    // Not an image, and a TIFF claiming three billion pixels a row: both an unreadable page.
    QByteArray huge("II*\0\x08\0\0\0\x08\0", 10);
    const auto entry = [&huge](quint16 tag, quint16 type, quint32 value) {
        for (quint32 v : {quint32(tag) | quint32(type) << 16, 1u, value})
            huge.append(reinterpret_cast<const char*>(&v), 4);
    };
    const quint32 entries[][3] = {{256, 4, 3000000000u}, {257, 4, 1},   {258, 3, 8}, {259, 3, 1},
                                  {262, 3, 1},           {273, 4, 110}, {278, 4, 1}, {279, 4, 1}};
    for (const auto& [tag, type, value] : entries)
        entry(quint16(tag), quint16(type), value);
    huge.append(QByteArray(5, '\0'));
    for (const QByteArray& content : {QByteArray("kein Bild"), huge}) {
        QVERIFY(writeFile(file, content));
        const QString error = failureOf([&] { e.call(343, show); });
        QVERIFY2(error.startsWith(QString::number(int(imaging::ErrorNumber::PageUnreadable))) &&
                     error.contains(file),
                 qPrintable(error));
        QVERIFY(!e.hasPage());
    }
}

QTEST_MAIN(TestDispatch)
#include "tst_dispatch.moc"
