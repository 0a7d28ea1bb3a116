#pragma once
// Resource identifiers shared by installer.rc and the code that loads them.

// The product icon file, stored a second time as raw data: the window decodes its largest image
// itself so the title bar and the icon frame get one crisp bitmap at the window's scale.
#define OMBREL_IDR_WINDOW_ICON 101

// The window's keyboard shortcuts, and the command of Ctrl+C: the support summary.
#define OMBREL_IDR_ACCELERATORS 102
#define OMBREL_ID_COPY_SUMMARY 201
