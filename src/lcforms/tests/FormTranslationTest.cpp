// Form records applied to a form: how keys and paths reach properties, string list lines and
// collection items, the order rule, the records that are skipped and the errors that end the
// translation; and the texts offered to translators.
#include "testsupport/LcTestFiles.h"
#include "base/Collection.h"
#include "base/Exception.h"
#include "forms/Controls.h"
#include "forms/Form.h"
#include "forms/RadioGroup.h"
#include "lcforms/FormTranslation.h"
#include "lc/LcUnit.h"

#include <QTest>

using namespace zentrop;

class TPanelItem : public TCollectionItem {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)

public:
    using TCollectionItem::TCollectionItem;
    QString Caption() const { return FCaption; }
    void SetCaption(const QString& c) { FCaption = c; }

private:
    QString FCaption;
};

// A component with a collection, a missing collection, a read-only text and a text whose
// writes are counted.
class TTestBar : public QObject {
    Q_OBJECT
    Q_PROPERTY(TCollection* Panels READ Panels)
    Q_PROPERTY(TCollection* Missing READ Missing)
    Q_PROPERTY(QString Fixed READ Fixed)
    Q_PROPERTY(QString Counted READ Counted WRITE SetCounted)

public:
    explicit TTestBar(QObject* owner)
        : QObject(owner), FPanels(new TCollection([](TCollection* c) { return new TPanelItem(c); }, this))
    {
        static_cast<TPanelItem*>(FPanels->Add())->SetCaption(QStringLiteral("Ready"));
        static_cast<TPanelItem*>(FPanels->Add())->SetCaption(QStringLiteral("Port"));
    }
    TCollection* Panels() const { return FPanels; }
    TCollection* Missing() const { return nullptr; }
    QString Fixed() const { return QStringLiteral("fixed"); }
    QString Counted() const { return FCounted; }
    void SetCounted(const QString& c)
    {
        FCounted = c;
        ++Writes;
    }
    int Writes = 0;

private:
    TCollection* FPanels;
    QString FCounted = QStringLiteral("same");
};

class TTestForm : public TForm {
    Q_OBJECT

public:
    TTestForm()
    {
        setObjectName(QStringLiteral("wTest"));
        SetCaption(QStringLiteral("Test"));
        Label1 = Own(new TLabel(Client()), QStringLiteral("Label1"));
        Label1->SetCaption(QStringLiteral("Upgrade file:"));
        Label1->Font()->SetName(QStringLiteral("Sans"));
        rgUpgradeMode = Own(new TRadioGroup(Client()), QStringLiteral("rgUpgradeMode"));
        rgUpgradeMode->Items()->SetCommaText(QStringLiteral("Flash,EEProm,Flash+EEProm"));
        Bar = Own(new TTestBar(this), QStringLiteral("Bar"));
        // A control on the form that the form does not own.
        Stray = new TLabel(Client());
        Stray->setObjectName(QStringLiteral("Stray"));
        Stray->SetCaption(QStringLiteral("stray"));
    }
    TLabel* Label1;
    TRadioGroup* rgUpgradeMode;
    TTestBar* Bar;
    TLabel* Stray;
};

struct Record {
    QByteArray key;
    lcf::TText text;
};
Q_DECLARE_METATYPE(QList<Record>)
using Probes = QMap<QString, QString>;

class FormTranslationTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { delete CurrentLcf(); }
    void recordsReachTheirProperties_data();
    void recordsReachTheirProperties();
    void noLanguageOrNoRecordTranslatesNothing();
    void textsForTranslatorsCoverWhatTranslationReaches();

private:
    // Loads a file whose form record for TTestForm holds these records, the texts in the
    // Hungarian column.
    void LoadRecords(const QList<Record>& records)
    {
        lcf::LanguageFile file = TwoLanguages();
        QList<lcf::FormProperty> props;
        for (const Record& r : records)
            props.append({r.key, {std::nullopt, r.text}});
        file.Forms[QStringLiteral("TTESTFORM")] = props;
        QVERIFY(LcLoadLanguage(WriteTestFile(FDir, QStringLiteral("t.lcf"), lcf::BuildLanguageFile(file)), 1038, nullptr, nullptr) == 1);
    }
    static Probes Read(TTestForm& f)
    {
        return {
            {"form", f.Caption()},
            {"label", f.Label1->Caption()},
            {"font", f.Label1->Font()->Name()},
            {"tag", QString::number(f.Label1->Tag())},
            {"line1", f.rgUpgradeMode->Items()->Get(1)},
            {"lines", QString::number(f.rgUpgradeMode->Items()->Count())},
            {"panel0", static_cast<TPanelItem*>(f.Bar->Panels()->Items(0))->Caption()},
            {"panel1", static_cast<TPanelItem*>(f.Bar->Panels()->Items(1))->Caption()},
            {"writes", QString::number(f.Bar->Writes)},
            {"stray", f.Stray->Caption()},
        };
    }

    QTemporaryDir FDir;
};

void FormTranslationTest::recordsReachTheirProperties_data()
{
    QTest::addColumn<QList<Record>>("records");
    QTest::addColumn<Probes>("changed");
    QTest::addColumn<QString>("error");
    const QString hu = QStringLiteral("Frissítő fájl:");

    QTest::addRow("form caption") << QList<Record>{{"wTest-Caption", QStringLiteral("Teszt")}} << Probes{{"form", "Teszt"}} << QString();
    QTest::addRow("names ignore case") << QList<Record>{{"WTEST-caption", QStringLiteral("Teszt")}} << Probes{{"form", "Teszt"}} << QString();
    QTest::addRow("component caption") << QList<Record>{{"Label1-Caption", hu}} << Probes{{"label", hu}} << QString();
    QTest::addRow("no text") << QList<Record>{{"Label1-Caption", std::nullopt}} << Probes{} << QString();
    QTest::addRow("empty text") << QList<Record>{{"Label1-Caption", QString()}} << Probes{{"label", ""}} << QString();
    QTest::addRow("earlier record wins") << QList<Record>{{"Label1-Caption", QStringLiteral("first")}, {"Label1-Caption", QStringLiteral("second")}}
                                         << Probes{{"label", "first"}} << QString();
    QTest::addRow("equal text is not written") << QList<Record>{{"Bar-Counted", QStringLiteral("same")}} << Probes{} << QString();
    QTest::addRow("different text is written once") << QList<Record>{{"Bar-Counted", QStringLiteral("other")}} << Probes{{"writes", "1"}} << QString();
    QTest::addRow("object then string") << QList<Record>{{"Label1-Font.Name", QStringLiteral("Serif")}} << Probes{{"font", "Serif"}} << QString();
    QTest::addRow("integer property") << QList<Record>{{"Label1-Tag", QStringLiteral("7")}} << Probes{} << QString();
    QTest::addRow("no setter") << QList<Record>{{"Bar-Fixed", QStringLiteral("x")}} << Probes{} << QString();
    QTest::addRow("toolkit property") << QList<Record>{{"Label1-text", QStringLiteral("x")}} << Probes{} << QString();
    QTest::addRow("unknown component") << QList<Record>{{"Label9-Caption", QStringLiteral("x")}} << Probes{} << QString();
    QTest::addRow("not owned by the form") << QList<Record>{{"Stray-Caption", QStringLiteral("x")}} << Probes{} << QString();
    QTest::addRow("no path") << QList<Record>{{"Label1", QStringLiteral("x")}} << Probes{} << QString();
    QTest::addRow("second dash ends the path") << QList<Record>{{"Label1-Caption-x", hu}} << Probes{{"label", hu}} << QString();
    QTest::addRow("list line by Strings(i)") << QList<Record>{{"rgUpgradeMode-Items.Strings(1)", QStringLiteral("EEPROM")}}
                                             << Probes{{"line1", "EEPROM"}} << QString();
    QTest::addRow("list line by Items(i).Text") << QList<Record>{{"rgUpgradeMode-Items(1).Text", QStringLiteral("EEPROM")}}
                                                << Probes{{"line1", "EEPROM"}} << QString();
    QTest::addRow("bracket on the last element") << QList<Record>{{"rgUpgradeMode-Items(1)", QStringLiteral("x")}} << Probes{} << QString();
    QTest::addRow("line past the end") << QList<Record>{{"rgUpgradeMode-Items.Strings(3)", QStringLiteral("x")}} << Probes{} << QString();
    QTest::addRow("collection item") << QList<Record>{{"Bar-Panels<1>.Caption", QStringLiteral("Port:")}} << Probes{{"panel1", "Port:"}} << QString();
    QTest::addRow("< decides over (") << QList<Record>{{"Bar-Panels<0>(1).Caption", QStringLiteral("Kész")}} << Probes{{"panel0", "Kész"}} << QString();
    QTest::addRow("missing collection") << QList<Record>{{"Bar-Missing<0>.Caption", QStringLiteral("x")}} << Probes{} << QString();
    // Errors end the translation; what was applied before stays (the list runs last first).
    QTest::addRow("item past the end") << QList<Record>{{"Bar-Panels<9>.Caption", QStringLiteral("x")}, {"Label1-Caption", hu}}
                                       << Probes{{"label", hu}} << QStringLiteral("List index out of bounds (9)");
    QTest::addRow("not a collection") << QList<Record>{{"Label1-Font<0>.Name", QStringLiteral("x")}} << Probes{}
                                      << QStringLiteral("Invalid class typecast");
    // A minus sign ends the property path, so a negative index never reaches the conversion.
    QTest::addRow("negative index") << QList<Record>{{"Bar-Panels<-1>.Caption", QStringLiteral("x")}} << Probes{}
                                    << QStringLiteral("'' is not a valid integer value");
    QTest::addRow("index not an integer") << QList<Record>{{"rgUpgradeMode-Items(x).Text", QStringLiteral("x")}} << Probes{}
                                          << QStringLiteral("'x' is not a valid integer value");
    QTest::addRow("index with blanks") << QList<Record>{{"rgUpgradeMode-Items( 1 ).Text", QStringLiteral("x")}} << Probes{}
                                       << QStringLiteral("' 1 ' is not a valid integer value");
}

void FormTranslationTest::recordsReachTheirProperties()
{
    QFETCH(QList<Record>, records);
    QFETCH(Probes, changed);
    QFETCH(QString, error);
    TTestForm form;
    Probes expected = Read(form);
    for (auto i = changed.cbegin(); i != changed.cend(); ++i)
        expected[i.key()] = i.value();
    LoadRecords(records);
    QString raised;
    try {
        QVERIFY(LcTranslateForm(&form));
    } catch (const Exception& e) {
        raised = e.Message();
    }
    QCOMPARE(raised, error);
    QCOMPARE(Read(form), expected);
}

void FormTranslationTest::noLanguageOrNoRecordTranslatesNothing()
{
    TTestForm form;
    QVERIFY(!LcTranslateForm(&form));
    QVERIFY(LcLoadLanguage(WriteTestFile(FDir, QStringLiteral("s.lcf"), lcf::BuildLanguageFile(TwoLanguages())), 1038, nullptr, nullptr) == 1);
    QVERIFY(!LcTranslateForm(&form));
    LoadRecords({});
    const Probes before = Read(form);
    QVERIFY(LcTranslateForm(&form));
    QCOMPARE(Read(form), before);
}

void FormTranslationTest::textsForTranslatorsCoverWhatTranslationReaches()
{
    TTestForm form;
    QList<Record> records;
    QStringList keys;
    for (const FormText& t : FormTexts(&form)) {
        keys.append(t.Key);
        records.append({t.Key.toLatin1(), t.Text + QStringLiteral(" (hu)")});
    }
    QCOMPARE(keys, (QStringList{"wTest-Caption", "Label1-Caption", "rgUpgradeMode-Items.Strings(0)", "rgUpgradeMode-Items.Strings(1)",
                                "rgUpgradeMode-Items.Strings(2)", "Bar-Panels<0>.Caption", "Bar-Panels<1>.Caption"}));
    LoadRecords(records);
    QVERIFY(LcTranslateForm(&form));
    for (const FormText& t : FormTexts(&form))
        QVERIFY2(t.Text.endsWith(QStringLiteral(" (hu)")), qPrintable(t.Key));
}

QTEST_MAIN(FormTranslationTest)
#include "FormTranslationTest.moc"
