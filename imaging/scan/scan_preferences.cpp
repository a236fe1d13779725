#include "imaging/scan/scan_preferences.h"

#include "imaging/common/imaging_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QStandardItemModel>

#include <algorithm>

namespace imaging {

namespace {

const QString StartButtonTip =
    QStringLiteral("Ein Druck auf die Taste „Kopieren“ oder „Scannen“ am Scanner macht eine Kopie, "
                   "als wäre der Kopierknopf geklickt. Kopyra hält den Scanner dafür geöffnet: "
                   "Andere Programme können ihn so lange nicht benutzen.");

const char* modeKey(ScanPreferences::Mode m)
{
    switch (m) {
    case ScanPreferences::Mode::Gray:
        return "Gray";
    case ScanPreferences::Mode::Lineart:
        return "Lineart";
    case ScanPreferences::Mode::Color:
        break;
    }
    return "Color";
}

const char* paperKey(ScanPreferences::Paper p)
{
    switch (p) {
    case ScanPreferences::Paper::A5:
        return "A5";
    case ScanPreferences::Paper::Letter:
        return "Letter";
    case ScanPreferences::Paper::WholeArea:
        return "WholeArea";
    case ScanPreferences::Paper::A4:
        break;
    }
    return "A4";
}

const char* sourceKey(ScanPreferences::Source s)
{
    switch (s) {
    case ScanPreferences::Source::Flatbed:
        return "Flatbed";
    case ScanPreferences::Source::Feeder:
        return "Feeder";
    case ScanPreferences::Source::FeederDuplex:
        return "FeederDuplex";
    case ScanPreferences::Source::IdCard:
        return IdCardSource;
    case ScanPreferences::Source::FlatbedPages:
        return "FlatbedPages";
    case ScanPreferences::Source::FeederBacksAfter:
        return "FeederBacksAfter";
    case ScanPreferences::Source::Book:
        return "Book";
    case ScanPreferences::Source::Device:
        break;
    }
    return "";
}

} // namespace

ScanPreferences ScanPreferences::load()
{
    ScanPreferences p;
    const ImagingSettings s;
    const QString mode = s.text(Settings::ScanMode);
    for (Mode m : {Mode::Color, Mode::Gray, Mode::Lineart})
        if (mode == QLatin1String(modeKey(m)))
            p.mode = m;
    p.dpi = s.number(Settings::ScanResolution);
    const QString paper = s.text(Settings::ScanPaper);
    for (Paper x : {Paper::A4, Paper::A5, Paper::Letter, Paper::WholeArea})
        if (paper == QLatin1String(paperKey(x)))
            p.paper = x;
    p.tone = s.number(Settings::ScanTone);
    p.startButton = s.number(Settings::ScanStartButton) == 1;
    // Only the choices offered: anything else (damaged, typed by hand) is off.
    const int erase = s.number(Settings::ScanEdgeErase);
    p.edgeErase = erase == 5 || erase == 10 || erase == 15 ? erase : 0;
    const QString original = s.text(Settings::ScanOriginal);
    p.original = original == QLatin1String("Text")    ? Original::Text
                 : original == QLatin1String("Photo") ? Original::Photo
                                                      : Original::Mixed;
    const QString source = s.text(Settings::ScanSource);
    for (Source x : {Source::Flatbed, Source::Feeder, Source::FeederDuplex, Source::IdCard,
                     Source::FlatbedPages, Source::FeederBacksAfter, Source::Book})
        if (source == QLatin1String(sourceKey(x)))
            p.source = x;
    return p;
}

void ScanPreferences::save() const
{
    ImagingSettings s;
    s.set(Settings::ScanMode, QString::fromLatin1(modeKey(mode)));
    s.set(Settings::ScanResolution, dpi);
    s.set(Settings::ScanPaper, QString::fromLatin1(paperKey(paper)));
    s.set(Settings::ScanTone, tone);
    s.set(Settings::ScanSource, QString::fromLatin1(sourceKey(source)));
    s.set(Settings::ScanStartButton, startButton ? 1 : 0);
    s.set(Settings::ScanEdgeErase, edgeErase);
    s.set(Settings::ScanOriginal, original == Original::Text    ? QStringLiteral("Text")
                                  : original == Original::Photo ? QStringLiteral("Photo")
                                                                : QStringLiteral("Mixed"));
}

ScanPreferencesDialog::ScanPreferencesDialog(const ScanPreferences& current, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Optionen – Scan-Einstellungen"));
    auto* form = new QFormLayout(this);
    modeBox = new QComboBox(this);
    modeBox->addItem(QStringLiteral("Farbe"), int(ScanPreferences::Mode::Color));
    modeBox->addItem(QStringLiteral("Graustufen"), int(ScanPreferences::Mode::Gray));
    modeBox->addItem(QStringLiteral("Strichzeichnung (schwarz/weiß)"),
                     int(ScanPreferences::Mode::Lineart));
    modeBox->setCurrentIndex(modeBox->findData(int(current.mode)));
    form->addRow(QStringLiteral("&Farbmodus:"), modeBox);

    dpiBox = new QComboBox(this);
    for (int dpi : {75, 100, 150, 200, 300, 400, 600, 1200})
        dpiBox->addItem(QStringLiteral("%1 dpi").arg(dpi), dpi);
    if (dpiBox->findData(current.dpi) < 0)
        dpiBox->addItem(QStringLiteral("%1 dpi").arg(current.dpi), current.dpi);
    dpiBox->setCurrentIndex(dpiBox->findData(current.dpi));
    form->addRow(QStringLiteral("&Auflösung:"), dpiBox);

    paperBox = new QComboBox(this);
    paperBox->addItem(QStringLiteral("A4 (210 × 297 mm)"), int(ScanPreferences::Paper::A4));
    paperBox->addItem(QStringLiteral("A5 (148 × 210 mm)"), int(ScanPreferences::Paper::A5));
    paperBox->addItem(QStringLiteral("Letter (8,5 × 11 Zoll)"),
                      int(ScanPreferences::Paper::Letter));
    paperBox->addItem(QStringLiteral("Ganze Scanfläche"), int(ScanPreferences::Paper::WholeArea));
    paperBox->setCurrentIndex(paperBox->findData(int(current.paper)));
    form->addRow(QStringLiteral("&Papierformat:"), paperBox);

    toneBox = new QComboBox(this);
    const char* const tones[] = {"Heller", "Etwas heller", "Normal", "Etwas dunkler", "Dunkler"};
    for (int step = -2; step <= 2; ++step)
        toneBox->addItem(QString::fromUtf8(tones[step + 2]), step);
    toneBox->setCurrentIndex(toneBox->findData(current.tone));
    form->addRow(QStringLiteral("&Helligkeit:"), toneBox);

    originalBox = new QComboBox(this);
    originalBox->setObjectName(QStringLiteral("original"));
    originalBox->addItem(QStringLiteral("Text und Foto"), int(ScanPreferences::Original::Mixed));
    originalBox->setItemData(0,
                             QStringLiteral("Das Papier wird weiß gedruckt, Text und Bilder "
                                            "bleiben, wie sie sind"),
                             Qt::ToolTipRole);
    originalBox->addItem(QStringLiteral("Text"), int(ScanPreferences::Original::Text));
    originalBox->setItemData(1,
                             QStringLiteral("Das Papier wird weiß gedruckt und die Schrift "
                                            "kräftig schwarz"),
                             Qt::ToolTipRole);
    originalBox->addItem(QStringLiteral("Foto"), int(ScanPreferences::Original::Photo));
    originalBox->setItemData(2, QStringLiteral("Die Kopie, wie der Scanner die Vorlage sieht"),
                             Qt::ToolTipRole);
    originalBox->setCurrentIndex(originalBox->findData(int(current.original)));
    form->addRow(QStringLiteral("Vorlagena&rt:"), originalBox);

    edgeEraseBox = new QComboBox(this);
    edgeEraseBox->setObjectName(QStringLiteral("edgeErase"));
    edgeEraseBox->addItem(QStringLiteral("aus"), 0);
    for (const int mm : {5, 10, 15})
        edgeEraseBox->addItem(QStringLiteral("%1 mm").arg(mm), mm);
    edgeEraseBox->setToolTip(QStringLiteral("Ein Rand dieser Breite wird auf jeder Seite der Kopie "
                                            "weiß gedruckt: für den Schatten des Deckels, "
                                            "Lochungen und Heftklammern"));
    edgeEraseBox->setCurrentIndex(std::max(0, edgeEraseBox->findData(current.edgeErase)));
    form->addRow(QStringLiteral("Rand &löschen:"), edgeEraseBox);

    sourceBox = new QComboBox(this);
    sourceBox->addItem(QStringLiteral("Wie am Scanner eingestellt"),
                       int(ScanPreferences::Source::Device));
    sourceBox->addItem(QStringLiteral("Vorlagenglas"), int(ScanPreferences::Source::Flatbed));
    sourceBox->addItem(QStringLiteral("Einzug"), int(ScanPreferences::Source::Feeder));
    sourceBox->addItem(QStringLiteral("Einzug beidseitig"),
                       int(ScanPreferences::Source::FeederDuplex));
    sourceBox->addItem(QStringLiteral("Ausweis (beide Seiten auf ein Blatt)"),
                       int(ScanPreferences::Source::IdCard));
    sourceBox->setItemData(sourceBox->count() - 1,
                           QStringLiteral("Vorder- und Rückseite eines Ausweises, nacheinander "
                                          "auf die linke obere Ecke des Vorlagenglases gelegt, "
                                          "in Originalgröße auf einem Blatt"),
                           Qt::ToolTipRole);
    sourceBox->addItem(QStringLiteral("Vorlagenglas, mehrere Seiten"),
                       int(ScanPreferences::Source::FlatbedPages));
    sourceBox->setItemData(sourceBox->count() - 1,
                           QStringLiteral("Eine Vorlage nach der anderen auf das Vorlagenglas "
                                          "legen; alle Seiten werden zusammen kopiert"),
                           Qt::ToolTipRole);
    sourceBox->addItem(QStringLiteral("Einzug, Rückseiten danach"),
                       int(ScanPreferences::Source::FeederBacksAfter));
    sourceBox->setItemData(sourceBox->count() - 1,
                           QStringLiteral("Erst die Vorderseiten durch den Einzug, dann den "
                                          "umgedrehten Stapel für die Rückseiten"),
                           Qt::ToolTipRole);
    sourceBox->addItem(QStringLiteral("Buch (zwei Seiten)"), int(ScanPreferences::Source::Book));
    sourceBox->setItemData(sourceBox->count() - 1,
                           QStringLiteral("Das aufgeschlagene Buch mit den Seiten nach unten, den "
                                          "Rücken quer über die Mitte des Vorlagenglases: jede "
                                          "Seite auf ein eigenes Blatt, ohne den Schatten des "
                                          "Rückens"),
                           Qt::ToolTipRole);
    sourceBox->setCurrentIndex(sourceBox->findData(int(current.source)));
    form->addRow(QStringLiteral("&Vorlage:"), sourceBox);

    startButtonBox = new QCheckBox(QStringLiteral("&Taste am Scanner startet eine Kopie"), this);
    startButtonBox->setObjectName(QStringLiteral("startButton"));
    startButtonBox->setChecked(current.startButton);
    startButtonBox->setToolTip(StartButtonTip);
    form->addRow(startButtonBox);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

void ScanPreferencesDialog::showAbilities(const DeviceAbilities& abilities)
{
    auto* sources = qobject_cast<QStandardItemModel*>(sourceBox->model());
    abilitiesShown = true;
    if (abilities.startButtons.isEmpty()) {
        // Nothing to watch: off, and OK keeps it off.
        startButtonBox->setChecked(false);
        startButtonBox->setEnabled(false);
        startButtonBox->setToolTip(QStringLiteral("Der gewählte Scanner meldet keine Taste "
                                                  "(„Kopieren“ oder „Scannen“), die Kopyra "
                                                  "abfragen könnte."));
    }
    // What the scanner cannot do is not offered, and says why; chosen before, for another
    // scanner, the box shows it, and says why it will not do.
    const auto refuse = [&](ScanPreferences::Source source, const QString& why) {
        QStandardItem* item = sources->item(sourceBox->findData(int(source)));
        item->setEnabled(false);
        item->setToolTip(why);
        if (sourceBox->currentIndex() == item->row())
            sourceBox->setToolTip(why);
    };
    if (!abilities.glass) {
        refuse(ScanPreferences::Source::IdCard,
               QStringLiteral("Der gewählte Scanner hat nur einen Einzug und kein "
                              "Vorlagenglas, auf das ein Ausweis gelegt werden könnte."));
        refuse(ScanPreferences::Source::FlatbedPages,
               QStringLiteral("Der gewählte Scanner hat nur einen Einzug und kein "
                              "Vorlagenglas."));
        refuse(ScanPreferences::Source::Book,
               QStringLiteral("Der gewählte Scanner hat nur einen Einzug und kein "
                              "Vorlagenglas, auf das ein Buch gelegt werden könnte."));
    }
    if (!abilities.feeder)
        refuse(ScanPreferences::Source::FeederBacksAfter,
               QStringLiteral("Der gewählte Scanner hat keinen Vorlageneinzug."));
}

ScanPreferences ScanPreferencesDialog::preferences() const
{
    ScanPreferences p;
    p.mode = static_cast<ScanPreferences::Mode>(modeBox->currentData().toInt());
    p.dpi = dpiBox->currentData().toInt();
    p.paper = static_cast<ScanPreferences::Paper>(paperBox->currentData().toInt());
    p.tone = toneBox->currentData().toInt();
    p.source = static_cast<ScanPreferences::Source>(sourceBox->currentData().toInt());
    p.startButton = startButtonBox->isChecked();
    p.original = static_cast<ScanPreferences::Original>(originalBox->currentData().toInt());
    p.edgeErase = edgeEraseBox->currentData().toInt();
    return p;
}

} // namespace imaging
