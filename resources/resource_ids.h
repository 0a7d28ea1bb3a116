#pragma once
// Resource identifiers shared by installer.rc and the code that loads them.

// The product icon (Explorer shows the exe with it). The window decodes the group's largest image
// itself, so the title bar and the icon frame get one crisp bitmap at the window's scale and the
// images are stored only once.
#define OMBREL_IDI_PRODUCT 1

// The window's keyboard shortcuts, and the command of Ctrl+C: the support summary.
#define OMBREL_IDR_ACCELERATORS 102
#define OMBREL_ID_COPY_SUMMARY 201
