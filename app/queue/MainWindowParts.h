#pragma once

class frmUpload;

// Gives the main window the behaviour that lives beside it rather than in it: its keyboard
// rules, dropped files, the remembered place on the screen and the language and About entries.
void InstallMainWindowParts(frmUpload& window);
