// Drives a world's browser front panel in Debian's headless Chromium, as a person would: holds
// MENU on the TX and sees its OLED picture change, plugs 720p60 into the TX and sees the RX's
// status and snapshot follow, then saves a screenshot of the page.
//   node web_panel.mjs URL SCREENSHOT.png
// Prints one "ok: ..." line per step; exits 1 with the reason on the first step that fails.
import { chromium } from "playwright-core";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const [url, screenshot] = process.argv.slice(2);
const guard = 90_000; // a hang guard on a loaded machine, not a timing requirement
// Without the background-networking flags Chromium reaches for hosts this machine cannot reach.
const flags = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync"];

const profile = mkdtempSync(join(tmpdir(), "hdext-chromium-"));
const context = await chromium.launchPersistentContext(profile, {
  executablePath: "/usr/bin/chromium", headless: true, args: flags, viewport: { width: 1000, height: 640 },
});
try {
  const page = context.pages()[0] || await context.newPage();
  page.setDefaultTimeout(guard);
  await page.goto(url);
  const tx = page.locator('.unit[data-unit="tx"]');
  const rx = page.locator('.unit[data-unit="rx1"]');
  const loaded = img => img.evaluate(i => i.complete && i.naturalWidth > 0 ? i.dataset.version : null);
  await page.waitForFunction(() => document.querySelector('.unit[data-unit="tx"] .oled')?.naturalWidth > 0);
  console.log("ok: page shows the units");

  // MENU held for 3.5 s (mouse down = press, mouse up = release) opens the menu on the TX.
  const oled = tx.locator(".oled");
  const home = await oled.screenshot();
  const box = await tx.locator('button[data-key="menu"]').boundingBox();
  await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
  await page.mouse.down();
  await page.waitForTimeout(3500);
  await page.mouse.up();
  const start = Date.now();
  while (Buffer.compare(home, await oled.screenshot()) === 0) {
    if (Date.now() - start > guard) throw new Error("the TX's OLED picture did not change after MENU was held");
    await page.waitForTimeout(250);
  }
  console.log("ok: the TX's OLED picture changed after MENU was held");

  // 720p60 plugged into the TX: the RX's status line and then its snapshot follow.
  const before = await loaded(rx.locator(".snapshot"));
  await tx.locator(".hdmi-format").selectOption("1280x720p60");
  await tx.locator(".hdmi-plug").click();
  await rx.locator(".status", { hasText: /^1280x720 video · timing 10/ }).waitFor();
  const retimed = await rx.locator(".snapshot").getAttribute("data-version");
  await page.waitForFunction(([v0, v1]) => {
    const i = document.querySelector('.unit[data-unit="rx1"] .snapshot');
    return i.complete && i.naturalWidth > 0 && i.dataset.version !== v0 && i.dataset.version !== v1;
  }, [before, retimed]);
  console.log("ok: the RX's status and snapshot followed 1280x720p60: " + await rx.locator(".status").textContent());

  await page.screenshot({ path: screenshot, fullPage: true });
  console.log("ok: screenshot " + screenshot);
} catch (e) {
  console.log("FAILED: " + e.message);
  process.exitCode = 1;
} finally {
  await context.close();
  rmSync(profile, { recursive: true, force: true });
}
