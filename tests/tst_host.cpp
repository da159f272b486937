#include "AbstractTreeItem.h"
#include "TavlinProperty.h"
#include "TavlinProperty_RegexValidator.h"
#include "Version.h"

#include <QIntValidator>
#include <QSignalSpy>
#include <QtTest>

class tst_Host : public QObject
{
    Q_OBJECT
private slots:
    void versionParsingAndOrder();
    void supportedRange();
    void ipAddressPattern_data();
    void ipAddressPattern();
    void treeItemProperties();
    void propertyDocFollowsVersion();
};

void tst_Host::versionParsingAndOrder()
{
    QCOMPARE(Version(QStringLiteral("2.12")), Version(2, 12, 0));
    QVERIFY(Version(QStringLiteral("2.10")) < Version(QStringLiteral("2.12")));
    QVERIFY(Version(QStringLiteral("2.20")) > Version(QStringLiteral("2.12")));
    QVERIFY(Version(QStringLiteral("2.9")) < Version(QStringLiteral("2.10")));
    QVERIFY(Version(2, 12, 1) > Version(QStringLiteral("2.12")));
    QVERIFY(Version(-1, 0, 0).isOpenEnd());
    QVERIFY(!Version(QStringLiteral("2.x")).isValid());
    QCOMPARE(Version(QStringLiteral("2.12")).toString(), QStringLiteral("2.12"));
}

void tst_Host::supportedRange()
{
    TavlinProperty since(QStringLiteral("a"), TavlinProperty::FreeText, true, QString(), false, true);
    since.setSupportedVersion(Version(QStringLiteral("2.12")), Version(-1, 0, 0));
    QVERIFY(!since.isSupported(Version(QStringLiteral("2.10"))));
    QVERIFY(since.isSupported(Version(QStringLiteral("2.12"))));
    QVERIFY(since.isSupported(Version(QStringLiteral("9.0"))));

    TavlinProperty until(QStringLiteral("b"), TavlinProperty::FreeText, true, QString(), false, true);
    until.setSupportedVersion(Version(-1, 0, 0), Version(QStringLiteral("2.10")));
    QVERIFY(until.isSupported(Version(QStringLiteral("1.0"))));
    QVERIFY(until.isSupported(Version(QStringLiteral("2.10"))));
    QVERIFY(!until.isSupported(Version(QStringLiteral("2.12"))));

    TavlinProperty always(QStringLiteral("c"), TavlinProperty::Boolean, true, QStringLiteral("false"), false, true);
    QVERIFY(always.isSupported(Version(QStringLiteral("0.1"))));
    QVERIFY(always.acceptsText(QStringLiteral("true")));
    QVERIFY(!always.acceptsText(QStringLiteral("maybe")));
}

void tst_Host::ipAddressPattern_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
    QTest::newRow("loopback") << "127.0.0.1" << int(QValidator::Acceptable);
    QTest::newRow("max") << "255.255.255.255" << int(QValidator::Acceptable);
    QTest::newRow("zeros") << "0.0.0.0" << int(QValidator::Acceptable);
    QTest::newRow("typing") << "192.168." << int(QValidator::Intermediate);
    QTest::newRow("empty") << "" << int(QValidator::Intermediate);
    QTest::newRow("octet too big") << "256.1.1.1" << int(QValidator::Invalid);
    QTest::newRow("five parts") << "1.2.3.4.5" << int(QValidator::Invalid);
    QTest::newRow("name") << "localhost" << int(QValidator::Invalid);
    QTest::newRow("leading zero") << "01.2.3.4" << int(QValidator::Invalid);
}

void tst_Host::ipAddressPattern()
{
    QFETCH(QString, text);
    QFETCH(int, state);
    TavlinProperty_RegexValidator validator(TavlinProperty_RegexValidator::IpAddress);
    QCOMPARE(int(TavlinProperty_RegexValidator::IpAddress), 9);
    int pos = 0;
    QCOMPARE(int(validator.validate(text, pos)), state);
}

void tst_Host::treeItemProperties()
{
    AbstractTreeItem item;
    QSignalSpy changed(&item, &AbstractTreeItem::dataChanged);
    auto *first = new TavlinProperty(QStringLiteral("port"), TavlinProperty::FreeText, true,
                                     QStringLiteral("0"), true, false);
    QCOMPARE(item.appendProperty(first), first);
    first->setValidator(new QIntValidator(0, 65535));
    auto *second = item.appendProperty(new TavlinProperty(QStringLiteral("connect"), TavlinProperty::Boolean,
                                                          true, QStringLiteral("false"), false, true));
    QCOMPARE(item.tavlinProperty(QStringLiteral("port")), first);
    QCOMPARE(item.tavlinProperty(QStringLiteral("connect")), second);
    QCOMPARE(item.tavlinProperty(QStringLiteral("Port")), nullptr);
    QCOMPARE(item.tavlinProperties(), (QList<TavlinProperty *>{first, second}));
    QVERIFY(first->acceptsText(QStringLiteral("65535")));
    QVERIFY(!first->acceptsText(QStringLiteral("70000")));
    QVERIFY(first->isValidated() && !first->isStored());

    item.raiseDataChanged();
    item.raiseDataChanged();
    QCOMPARE(changed.count(), 2);
}

void tst_Host::propertyDocFollowsVersion()
{
    AbstractTreeItem item;
    auto *old = item.appendProperty(new TavlinProperty(QStringLiteral("interface"), TavlinProperty::FreeText,
                                                       true, QString(), false, true));
    old->setSupportedVersion(Version(-1, 0, 0), Version(QStringLiteral("2.10")));
    auto *rate = item.appendProperty(new TavlinProperty(QStringLiteral("baudrate"), TavlinProperty::Choice,
                                                        true, QString(), false, true));
    rate->description = QStringLiteral("Baudrate <in> baud");
    rate->setOptions({QStringLiteral("9600"), QStringLiteral("115200")});

    const QString oldDoc = item.getPropertyDoc(Version(QStringLiteral("2.10")), QStringLiteral("Port object"));
    const QString newDoc = item.getPropertyDoc(Version(QStringLiteral("2.20")), QStringLiteral("Port object"));
    QVERIFY(oldDoc.contains(QStringLiteral("<td>interface</td>")));
    QVERIFY(!newDoc.contains(QStringLiteral("<td>interface</td>")));
    QVERIFY(newDoc.contains(QStringLiteral("Port object")));
    QVERIFY(newDoc.contains(QStringLiteral("9600, 115200")));
    QVERIFY(newDoc.contains(QStringLiteral("Baudrate &lt;in&gt; baud")));
}

QTEST_GUILESS_MAIN(tst_Host)
#include "tst_host.moc"
