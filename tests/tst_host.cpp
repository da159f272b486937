#include "host/TavlinProperty_RegexValidator.h"

#include <QtTest>

class tst_Host : public QObject
{
    Q_OBJECT
private slots:
    void ipAddressPattern_data();
    void ipAddressPattern();
};

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


QTEST_GUILESS_MAIN(tst_Host)
#include "tst_host.moc"
