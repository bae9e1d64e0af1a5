"""Headless Chromium driven by Selenium, as the browser tests and the web
benchmark open it: CHROMIUM and CHROMEDRIVER name the programs."""

from __future__ import annotations

import os

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def headless_chromium() -> webdriver.Chrome:
    options = webdriver.ChromeOptions()
    for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                     "--window-size=1280,900"):
        options.add_argument(argument)
    options.binary_location = os.environ.get("CHROMIUM", "/usr/bin/chromium")
    service = Service(os.environ.get("CHROMEDRIVER", "/usr/bin/chromedriver"))
    return webdriver.Chrome(service=service, options=options)
