// Installer configuration model.
