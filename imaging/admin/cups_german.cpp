#include "imaging/admin/cups_german.h"

#include "imaging/common/cups_catalogue.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>

namespace imaging {

namespace {

// Puts Qt's page of a printer's options into German when it shows, for as long as it lives:
// the groups' titles, the options' names and their choices (Qt keeps the printer's own name of
// each choice with its entry; only the shown text changes).
class PropertiesWatch : public QObject {
public:
    explicit PropertiesWatch(QObject* parent)
        : QObject(parent)
    {
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show || !watched->inherits("QPrintPropertiesDialog"))
            return false;
        auto* page = watched->findChild<QWidget*>(QStringLiteral("cupsPropertiesPage"));
        if (!page)
            return false;
        const auto german = [](const QString& english) {
            const QString words = cupsGerman(english);
            return words.isEmpty() ? english : words;
        };
        for (QGroupBox* group : page->findChildren<QGroupBox*>())
            group->setTitle(german(group->title()));
        for (QLabel* name : page->findChildren<QLabel*>())
            name->setText(german(name->text()));
        for (QComboBox* choices : page->findChildren<QComboBox*>())
            for (int i = 0; i < choices->count(); ++i)
                choices->setItemText(i, german(choices->itemText(i)));
        return false;
    }
};

} // namespace

void showOptionsInGerman(QDialog& printDialog) { new PropertiesWatch(&printDialog); }

} // namespace imaging
