#include "host/AbstractTreeItem.h"
#include "host/TavlinProperty.h"
#include "host/TavlinProperty_RegexValidator.h"
#include "host/Version.h"

#include <QIntValidator>
#include <QtTest>

class tst_Host : public QObject
{
    Q_OBJECT
private slots:
    void versions();
    void ipAddressPattern_data();
    void ipAddressPattern();
    void treeItemPropertiesAndDoc();
};

static Version v(const char *text)
{
    return Version(QString::fromLatin1(text));
}

void tst_Host::versions()
{
    QCOMPARE(v("2.12"), Version(2, 12, 0));
    QVERIFY(v("2.9") < v("2.10") && Version(2, 12, 1) > v("2.12"));
    QVERIFY(Version(-1, 0, 0).isOpenEnd() && !v("2.x").isValid());
    QCOMPARE(v("2.12").toString(), QStringLiteral("2.12"));
}

void tst_Host::ipAddressPattern_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("state");
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
    TavlinProperty_RegexValidator validator(TavlinProperty_RegexValidator::Pattern(9));
    int pos = 0;
    QCOMPARE(int(validator.validate(text, pos)), state);
}

void tst_Host::treeItemPropertiesAndDoc()
{
    AbstractTreeItem item;
    auto add = [&item](const char *name, TavlinProperty::InputType type) {
        return item.appendProperty(new TavlinProperty(QString::fromLatin1(name), type, true, QString(), false, true));
    };
    TavlinProperty *port = add("port", TavlinProperty::FreeText);
    port->setValidator(new QIntValidator(0, 65535));
    TavlinProperty *old = add("interface", TavlinProperty::FreeText);
    old->setSupportedVersion(Version(-1, 0, 0), v("2.10"));
    TavlinProperty *rate = add("baudrate", TavlinProperty::Choice);
    rate->setSupportedVersion(v("2.12"), Version(-1, 0, 0));
    rate->description = QStringLiteral("Baudrate <in> baud");
    rate->setOptions({QStringLiteral("9600"), QStringLiteral("115200")});
    TavlinProperty *flag = add("connect", TavlinProperty::Boolean);

    QCOMPARE(item.tavlinProperty(QStringLiteral("Port")), nullptr);
    QCOMPARE(item.tavlinProperties(), (QList<TavlinProperty *>{port, old, rate, flag}));
    QVERIFY(port->acceptsText(QStringLiteral("65535")) && !port->acceptsText(QStringLiteral("70000")));
    QVERIFY(flag->acceptsText(QStringLiteral("true")) && !flag->acceptsText(QStringLiteral("maybe")));

    // Each version documents the records it supports, open ends included.
    const QString oldDoc = item.getPropertyDoc(v("2.10"), QStringLiteral("Port object"));
    const QString newDoc = item.getPropertyDoc(v("2.12"), QStringLiteral("Port object"));
    QVERIFY(oldDoc.contains(QStringLiteral("<td>interface</td>")) && !oldDoc.contains(QStringLiteral("<td>baudrate")));
    QVERIFY(!newDoc.contains(QStringLiteral("<td>interface</td>")) && newDoc.contains(QStringLiteral("<td>connect")));
    QVERIFY(newDoc.contains(QStringLiteral("Port object")) && newDoc.contains(QStringLiteral("9600, 115200")));
    QVERIFY(newDoc.contains(QStringLiteral("Baudrate &lt;in&gt; baud")));
}

QTEST_GUILESS_MAIN(tst_Host)
#include "tst_host.moc"
