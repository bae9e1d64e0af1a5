"""The API's documentation at /api/docs: a page made here from the OpenAPI
description (served at /api/openapi.json), so that it needs nothing from
the network and runs no script."""

from __future__ import annotations

import html
from typing import Any


def _parameters(operation: dict[str, Any]) -> str:
    rows = []
    for parameter in operation.get("parameters", []):
        schema = parameter.get("schema", {})
        kind = schema.get("type", "")
        default = f" (default {schema['default']})" if "default" in schema else ""
        needed = " required" if parameter.get("required") else ""
        rows.append(f"<li><code>{html.escape(parameter['name'])}</code> "
                    f"<small>{html.escape(parameter.get('in', ''))}, {html.escape(kind)}"
                    f"{html.escape(default)}{needed}</small></li>")
    return f"<ul>{''.join(rows)}</ul>" if rows else ""


def docs_page(openapi: dict[str, Any]) -> str:
    info = openapi.get("info", {})
    sections = []
    for path, operations in openapi.get("paths", {}).items():
        for method, operation in operations.items():
            sections.append(
                f"<section><h2><span class='method'>{html.escape(method.upper())}</span> "
                f"<code>{html.escape(path)}</code></h2>"
                f"<p>{html.escape(operation.get('summary', ''))}</p>{_parameters(operation)}</section>")
    return ("<!doctype html><html lang='en'><head><meta charset='utf-8'>"
            "<meta name='viewport' content='width=device-width, initial-scale=1'>"
            f"<title>{html.escape(info.get('title', 'API'))}</title>"
            "<link rel='stylesheet' href='/static/style.css'></head><body class='docs'>"
            f"<header><h1>{html.escape(info.get('title', 'API'))} "
            f"<small>{html.escape(info.get('version', ''))}</small></h1>"
            f"<p>{html.escape(info.get('description', ''))}</p>"
            "<p>The description in OpenAPI 3: <a href='/api/openapi.json'>/api/openapi.json</a>."
            "</p></header><main>" + "".join(sections) + "</main></body></html>")
