// A singer's phone in a real browser: opens the request page, types the venue code when asked,
// searches, picks the first song, sends a request and prints the answer the page shows.
// usage: node browser_phone.js CHROMIUM URL SEARCH NAME [SCREENSHOT_FOLDER]
"use strict";
const puppeteer = require("puppeteer-core");
const [chromium, url, text, name, shots] = process.argv.slice(2);

(async () => {
  const browser = await puppeteer.launch({
    executablePath: chromium,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage", "--no-first-run"],
  });
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 390, height: 800, deviceScaleFactor: 1 });
    const problems = [];
    page.on("pageerror", (e) => problems.push(e.message));
    // Refusals the page expects (the code asked for, no icon) show as failed loads; script errors do not.
    page.on("console", (m) => { if (m.type() === "error" && !/^Failed to load resource/.test(m.text())) problems.push(m.text()); });
    await page.goto(url, { waitUntil: "load" });
    await page.type("#q", text);
    await page.click("#search-form button");
    await page.waitForSelector("#code-form:not([hidden])", { timeout: 5000 });
    await page.type("#code", "4711");
    await page.click("#code-form button");
    await page.waitForSelector("#results li button", { timeout: 5000 });
    await page.click("#results li button");
    await page.type("#name", name);
    if (shots) await page.screenshot({ path: shots + "/page_results.png", fullPage: true });
    await page.click("#request-form button");
    await page.waitForFunction(() => /Thank you/.test(document.getElementById("status").textContent), { timeout: 5000 });
    if (shots) await page.screenshot({ path: shots + "/page_sent.png" });
    if (problems.length > 0) throw new Error("the page reported: " + problems.join("; "));
    console.log(await page.$eval("#status", (e) => e.textContent));
  } finally {
    await browser.close();
  }
})().catch((e) => {
  console.error(String(e && e.stack || e));
  process.exit(1);
});
