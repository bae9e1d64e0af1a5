"""The web application: the JSON API, its documentation, and the browser
view (one page whose script draws each view from the API)."""

from __future__ import annotations

import asyncio
import pathlib
from typing import Callable, Sequence

from fastapi import FastAPI, Request
from fastapi.responses import FileResponse, HTMLResponse, JSONResponse
from fastapi.staticfiles import StaticFiles
from starlette.exceptions import HTTPException
from starlette.middleware.trustedhost import TrustedHostMiddleware
from starlette.responses import Response
from starlette.types import Scope

from .api import make_router
from .api_docs import docs_page
from .changes_feed import ChangesFeed
from .connections import ConnectionPools
from .signin import SignIn

STATIC = pathlib.Path(__file__).parent / "static"

# Every answer says what the page may load and run: its own scripts and
# styles alone (model names are user data: nothing they hold ever runs),
# and it is framed nowhere.
SECURITY_HEADERS = {
    "Content-Security-Policy": "default-src 'self'; img-src 'self' data:; object-src 'none'; "
                               "base-uri 'none'; form-action 'self'; frame-ancestors 'none'",
    "X-Content-Type-Options": "nosniff",
    "Referrer-Policy": "same-origin",
    "X-Frame-Options": "DENY",
}


class StaticFolder(StaticFiles):
    """The pages' own files. A path no file can have (a NUL in it, which
    the file system refuses outright) is simply not found."""

    async def get_response(self, path: str, scope: Scope) -> Response:
        if "\0" in path:
            raise HTTPException(404)
        return await super().get_response(path, scope)


# The names a browser on this machine reaches a loopback web view by. Any
# other Host is refused: a page of another site that has its name resolve
# to 127.0.0.1 (DNS rebinding) would otherwise be the web view's own origin.
LOOPBACK_NAMES = ["127.0.0.1", "localhost", "::1", "[::1]"]


# What answers without sign-in: the pages (their script asks who is signed
# in), their files, the API's description, and signing in.
OPEN_PATHS = ("/api/session", "/api/docs", "/api/openapi.json")


def create_app(pools: ConnectionPools, feed: ChangesFeed,
               diagram_command: Callable[[int, str | None], list[str]],
               sign_in: SignIn | None = None, served_names: Sequence[str] = ()) -> FastAPI:
    """`served_names`: the names, beside the loopback ones, that people
    reach the web view by; a request naming any other host is refused,
    signed in or not (a proxy's header, a cookie and the page's header all
    travel with a rebound name's requests too)."""
    app = FastAPI(title="QOVIX repository API", version="1",
                  description="The model repository a qovixd serves: elements by persistent "
                              "object number, their features and contents, search by name, "
                              "class diagrams and commits.",
                  docs_url=None, redoc_url=None, openapi_url="/api/openapi.json")
    sign_in = sign_in or SignIn()
    app.state.pools = pools
    app.state.feed = feed
    app.state.sign_in = sign_in
    app.include_router(make_router(diagram_command))
    app.mount("/static", StaticFolder(directory=STATIC), name="static")
    app.add_middleware(TrustedHostMiddleware, allowed_hosts=[*LOOPBACK_NAMES, *served_names])

    @app.middleware("http")
    async def secured(request: Request, call_next):  # type: ignore[no-untyped-def]
        request.state.user = sign_in.user_of(request.headers, request.cookies,
                                             request.client.host if request.client else None)
        path = request.url.path
        if (sign_in.required and request.state.user is None and path.startswith("/api/")
                and path not in OPEN_PATHS):
            response: Response = JSONResponse({"detail": "sign in first"}, status_code=401)
        else:
            response = await call_next(request)
        for header, value in SECURITY_HEADERS.items():
            response.headers.setdefault(header, value)
        return response

    @app.get("/api/docs", include_in_schema=False)
    def documentation() -> HTMLResponse:
        return HTMLResponse(docs_page(app.openapi()))

    # Each view has an address of its own, which the page's script reads.
    @app.get("/", include_in_schema=False)
    @app.get("/element/{number}", include_in_schema=False)
    @app.get("/search", include_in_schema=False)
    def page(number: int | None = None) -> FileResponse:
        return FileResponse(STATIC / "index.html", media_type="text/html")

    @app.on_event("startup")
    async def started() -> None:
        feed.start(asyncio.get_running_loop())

    @app.on_event("shutdown")
    def closed() -> None:
        feed.stop()
        pools.close()

    return app
