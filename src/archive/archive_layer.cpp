// Zip archives.
