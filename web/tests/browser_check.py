# The installed web view in headless Chromium: log in, see the fleet, sort
# and filter it, open a device, read a diff, search the syslog; router and
# base.db texts appear as text.  Prints "browser check passed" at the end.
# With QUELLIN_WEB_SCREENSHOTS naming a folder, the fleet and the diff are
# also saved there as the user guide's pictures (docs/screenshots.sh).
import os
import sys
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

url = sys.argv[1]
options = webdriver.ChromeOptions()
for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--lang=ja"):
    options.add_argument(argument)
options.add_experimental_option("prefs", {"intl.accept_languages": "ja"})
driver = webdriver.Chrome(options=options, service=Service("/usr/bin/chromedriver"))
wait = WebDriverWait(driver, 20)
pictures = os.environ.get("QUELLIN_WEB_SCREENSHOTS")
if pictures:
    driver.set_window_size(1100, 640)


def picture(name, element=None):
    if pictures:
        if element:
            driver.execute_script("document.getElementById(arguments[0]).scrollIntoView()", element)
        driver.save_screenshot(os.path.join(pictures, name))


try:
    driver.get(url)
    rows = lambda: driver.find_elements(By.CSS_SELECTOR, "#fleet tbody tr")
    wait.until(lambda d: len(rows()) == 2)
    assert "装置一覧" in driver.find_element(By.TAG_NAME, "h1").text
    counts = driver.find_element(By.ID, "counts").text
    assert "最新: 1" in counts and "接続不可: 1" in counts, counts
    picture("web-fleet.png")
    hostile = driver.find_elements(By.LINK_TEXT, "<script>alert(1)</script>")
    assert hostile and not driver.find_elements(By.CSS_SELECTOR, "#fleet script")
    driver.find_element(By.CSS_SELECTOR, "th[data-key=name]").click()
    driver.find_element(By.CSS_SELECTOR, "th[data-key=name]").click()
    assert rows()[0].text.startswith("branch01"), rows()[0].text
    driver.find_element(By.ID, "filter-model").send_keys("Tarn10")
    assert len(rows()) == 1 and rows()[0].text.startswith("<script>")
    driver.find_element(By.ID, "filter-model").clear()
    driver.find_element(By.ID, "filter-model").send_keys(" ")
    driver.get(url + "device.html?name=branch01")
    wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "button.show-diff"))
    driver.find_element(By.CSS_SELECTOR, "button.show-diff").click()
    wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "#diff span.added"))
    added = [e.text for e in driver.find_elements(By.CSS_SELECTOR, "#diff span.added")]
    assert "+hostname <b>r1</b>" in added and "+login password ********" in added, added
    assert not driver.find_elements(By.CSS_SELECTOR, "#diff b")
    picture("web-diff.png", "diff")
    assert "構成定義ファイル" in driver.page_source
    driver.get(url + "syslog.html")
    driver.find_element(By.ID, "text").send_keys("link down")
    driver.find_element(By.ID, "go").click()
    wait.until(lambda d: "該当なし" in d.find_element(By.ID, "results").text)
    print("browser check passed")
except Exception:
    print(driver.current_url, driver.page_source[:3000])
    raise
finally:
    driver.quit()
