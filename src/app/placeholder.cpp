// Start-up of the installer.
