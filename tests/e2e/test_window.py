"""The installer window as users see it, at 96, 120 and 144 DPI in English, French and Japanese:
geometry of the window and of every control, texts, styles, centring, focus and the icon.
Screenshots of every combination are kept under the build's e2e-artifacts folder."""
import os
import unittest

import wine_harness as wh

WS_CAPTION, WS_SYSMENU, WS_VISIBLE, WS_CLIPCHILDREN = 0x00C00000, 0x00080000, 0x10000000, 0x02000000
WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX, WS_CHILD, WS_TABSTOP = 0x40000, 0x20000, 0x10000, 0x40000000, 0x10000
SS_CENTER, SS_ICON, SS_NOPREFIX, SS_NOTIFY, SS_CENTERIMAGE, SS_TYPEMASK = 0x1, 0x3, 0x80, 0x100, 0x200, 0x1F
BS_NOTIFY, PBS_MARQUEE = 0x4000, 0x8
ICON_CREAM = (0xF3, 0xE7, 0xCF)  # the warp thread at the icon's centre crossing

# A dark and a light high-contrast scheme. A theme promises contrast only within its pairs; here
# the document pair (Window/WindowText) is the opposite of the menu pair the window is drawn in,
# so text in the wrong pair's colour vanishes into the background.
CONTRAST_SCHEMES = {
    "dark": {"Menu": (0, 0, 0), "MenuText": (255, 255, 255), "Window": (255, 255, 255), "WindowText": (0, 0, 0)},
    "light": {"Menu": (255, 255, 255), "MenuText": (0, 0, 0), "Window": (0, 0, 0), "WindowText": (255, 255, 255)},
}


def rect_tuple(rect):
    return rect["x"], rect["y"], rect["width"], rect["height"]


class WindowTest(unittest.TestCase):
    maxDiff = None

    def check_layout_and_texts(self, snapshot, dpi, locale):
        layout = wh.LAYOUTS[dpi]
        window = snapshot["window"]
        self.assertEqual(window["class"], "NativeWindowsGuiWindow")
        self.assertEqual(window["title"], wh.translation(locale, "WINDOW_TITLE"))
        self.assertEqual((window["client"]["width"], window["client"]["height"]), layout["client"])

        style = window["style"]
        for bit in (WS_CAPTION, WS_SYSMENU, WS_VISIBLE, WS_CLIPCHILDREN):
            self.assertTrue(style & bit, f"window style {style:#x} lacks {bit:#x}")
        for bit in (WS_THICKFRAME, WS_MINIMIZEBOX, WS_MAXIMIZEBOX):
            self.assertFalse(style & bit, f"window style {style:#x} has {bit:#x}: it must not be resizable")

        # Centred on the monitor's full rectangle with the client size in the formula.
        monitor = window["monitor"]
        width, height = layout["client"]
        expected_x = monitor["x"] + int((monitor["width"] - width) / 2)
        expected_y = monitor["y"] + int((monitor["height"] - height) / 2)
        self.assertEqual((window["outer"]["x"], window["outer"]["y"]), (expected_x, expected_y))

        self.assertEqual([c["class"].lower() for c in snapshot["children"]], wh.CONTROL_CLASSES,
                         "the six controls, in creation (and tab) order")
        controls = wh.controls(snapshot)
        for role, rect in layout["rects"].items():
            self.assertEqual(rect_tuple(controls[role]["rect"]), rect, f"{role} at {dpi} DPI")
        # The font is checked in-process (tests/app/win32): Wine does not answer WM_GETFONT
        # across processes.

        self.assertEqual(controls["title"]["text"], wh.translation(locale, "TITLE_HEADING"))
        self.assertEqual(controls["retry"]["text"], wh.translation(locale, "BUTTON_RETRY"))
        self.assertEqual(controls["version"]["text"], "v0.0.20")
        self.assertEqual(controls["icon"]["text"], "")

        for role in ("title", "status", "version"):
            label_style = controls[role]["style"]
            self.assertEqual(label_style & SS_TYPEMASK, SS_CENTER, role)
            self.assertTrue(label_style & SS_NOPREFIX and label_style & SS_NOTIFY, role)
        icon_style = controls["icon"]["style"]
        self.assertEqual(icon_style & SS_TYPEMASK, SS_ICON)
        self.assertTrue(icon_style & SS_CENTERIMAGE and icon_style & SS_NOTIFY)
        self.assertTrue(controls["retry"]["style"] & WS_TABSTOP and controls["retry"]["style"] & BS_NOTIFY)
        progress = controls["progress"]["progress"]
        self.assertEqual((progress["low"], progress["high"]), (0, 1000))
        for control in snapshot["children"]:
            self.assertTrue(control["style"] & WS_CHILD)

    def check_icon(self, installer, snapshot, screen, dpi, locale, expect_product_icon):
        size = wh.LAYOUTS[dpi]["icon_size"]
        title = wh.translation(locale, "WINDOW_TITLE")
        icons = installer.x_window_icons(title)
        ours = [(w, h, px) for w, h, px in icons if (w, h) == (size, size)
                and wh.near(wh.argb_rgb(px[(h // 2) * w + w // 2]), ICON_CREAM)]
        frame = wh.controls(snapshot)["icon"]["rect"]
        client = snapshot["window"]["client"]
        centre = wh.screen_pixel(screen, client["screen_x"] + frame["x"] + frame["width"] // 2,
                                 client["screen_y"] + frame["y"] + frame["height"] // 2)
        if expect_product_icon:
            self.assertTrue(ours, f"the title bar icon is the product icon at {size}x{size}: {[i[:2] for i in icons]}")
            self.assertTrue(wh.near(centre, ICON_CREAM), f"icon frame centre {centre}")
        else:
            self.assertFalse(ours, "no product icon when the stored icon cannot be decoded")
            self.assertFalse(wh.near(centre, ICON_CREAM), f"icon frame centre {centre}")
            self.assertTrue(icons, "the window still has an icon")

    def test_layout_at_every_dpi_in_every_language(self):
        exe = wh.env_path("OMBREL_INSTALLER_EXE")
        for dpi in (96, 120, 144):
            for locale in ("en_US", "fr_FR", "ja_JP"):
                with self.subTest(dpi=dpi, locale=locale):
                    name = f"window-{dpi}dpi-{locale}"
                    with wh.Installer(exe, name, locale=locale, dpi=dpi) as installer:
                        # Settled: the first run has rendered something into the status line.
                        snapshot = installer.wait_until(lambda s: wh.controls(s)["status"]["text"] != "",
                                                        "a status text")
                        screen, _ = installer.screenshot(snapshot, name)
                        self.check_layout_and_texts(snapshot, dpi, locale)
                        self.check_icon(installer, snapshot, screen, dpi, locale, expect_product_icon=True)

    def label_contrast(self, screen, snapshot, role):
        """Contrast of a label's text with its background: the commonest colour of its rectangle
        is the background, the commonest other colour the text (the glyphs' solid cores)."""
        rect = wh.controls(snapshot)[role]["rect"]
        client = snapshot["window"]["client"]
        pixels = wh.screen_region(screen, client["screen_x"] + rect["x"], client["screen_y"] + rect["y"],
                                  rect["width"], rect["height"])
        counts = {}
        for pixel in pixels:
            counts[pixel] = counts.get(pixel, 0) + 1
        ranked = sorted(counts, key=counts.get, reverse=True)
        # One colour only: the text was drawn in the background's colour.
        text = ranked[1] if len(ranked) > 1 else ranked[0]
        return ranked[0], text, wh.contrast_ratio(ranked[0], text)

    def test_heading_and_status_line_are_readable_in_dark_and_light_contrast_schemes(self):
        exe = wh.env_path("OMBREL_SCRIPTED_EXE")
        for scheme, colours in CONTRAST_SCHEMES.items():
            with self.subTest(scheme=scheme):
                name = f"window-contrast-{scheme}"
                with wh.Installer(exe, name, colours=colours, env={"OMBREL_E2E_RUNS": "fetch.hang"}) as installer:
                    snapshot = installer.wait_until(lambda s: wh.controls(s)["status"]["text"] != "", "a status text")
                    screen, _ = installer.screenshot(snapshot, name)
                    for role in ("title", "status"):
                        background, text, ratio = self.label_contrast(screen, snapshot, role)
                        self.assertEqual(background, colours["Menu"], f"{role} background")
                        self.assertGreaterEqual(ratio, 4.5, f"{role}: text {text} on {background}")

    def test_corrupt_stored_icon_gives_the_stock_error_icon_and_an_otherwise_normal_window(self):
        exe = wh.env_path("OMBREL_CORRUPT_ICON_EXE")
        with wh.Installer(exe, "window-corrupt-icon", dpi=96) as installer:
            snapshot = installer.wait_until(lambda s: wh.controls(s)["status"]["text"] != "", "a status text")
            screen, _ = installer.screenshot(snapshot, "window-corrupt-icon")
            self.check_layout_and_texts(snapshot, 96, "en_US")
            self.check_icon(installer, snapshot, screen, 96, "en_US", expect_product_icon=False)
            self.assertEqual(installer.close()["closed"], True)
            self.assertEqual(installer.wait_exit(30), 0)


if __name__ == "__main__":
    unittest.main()
