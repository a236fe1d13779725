# Sourced: whether the CUPS scheduler answers (the one CUPS_SERVER names, else the machine's),
# asked in English whatever the desktop's language ("Zeitplandienst läuft" on a German one).
cups_scheduler_answers() { LC_ALL=C lpstat -r 2>/dev/null | grep -q "scheduler is running"; }
