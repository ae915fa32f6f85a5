// Utilities of the installer.
