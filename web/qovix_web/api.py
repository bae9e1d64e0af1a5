"""The JSON API under /api/, shaped after the OMG Systems Modeling API
where it fits: the repository, its commits, elements by number with their
features, queries by class and name, and diagrams as SVG. Every page of
the browser view uses it, so scripts in any language get the same."""

from __future__ import annotations

import asyncio
import collections
import contextlib
import json
import subprocess
import threading
from typing import Any, AsyncIterator, Callable, Iterator, Literal

from fastapi import APIRouter, Depends, HTTPException, Query, Request
from fastapi.concurrency import run_in_threadpool
from fastapi.responses import Response, StreamingResponse
from pydantic import BaseModel, Field

import qovix

from . import elements
from .changes_feed import ChangesFeed, listed_objects
from .connections import ConnectionPools
from .signin import COOKIE, LONGEST_NAME, LONGEST_PASSWORD, SignIn

# The most members one page of an answer lists.
MOST_PER_PAGE = 500


@contextlib.contextmanager
def repository(request: Request) -> Iterator[qovix.Repository]:
    """A connection for the request's work, given back however it ends: the
    work runs in a thread of its own, which ends even when the browser has
    gone. qovixd's refusals and failures become answers that say why. A
    signed-in person's work goes over connections acting for them."""
    pools: ConnectionPools = request.app.state.pools
    try:
        with pools.of(request.state.user).repository() as repo:
            yield repo
    except TimeoutError as busy:
        raise HTTPException(503, str(busy)) from busy
    except qovix.AccessDenied as denied:
        raise HTTPException(403, str(denied)) from denied
    except qovix.QovixError as failed:
        raise HTTPException(502, f"qovixd: {failed}") from failed


def from_the_page(request: Request) -> None:
    """A change comes from the pages' script, or from a script of the user's:
    it carries the header X-Qovix-Request, which a form, link or image of
    another site cannot send (and no other site may make a script send it:
    the API allows no cross-origin requests). So no site forges one."""
    if request.headers.get("x-qovix-request") != "1":
        raise HTTPException(403, "a change needs the header X-Qovix-Request: 1")


class Credentials(BaseModel):
    user: str = Field(..., max_length=LONGEST_NAME)
    password: str = Field(..., max_length=LONGEST_PASSWORD)


# Passwords are checked (slowly, by design) at most so many at once; a
# crowd of sign-ins waits its turn, and past a few seconds is turned away.
PASSWORD_CHECKS = threading.BoundedSemaphore(2)


class Change(BaseModel):
    """What a change sets; what it leaves out stays. A multiplicity is
    written "1", "0..*", "1..3,5"; "" removes it."""
    name: str | None = Field(None, max_length=131072)
    visibility: Literal["public", "protected", "private"] | None = None
    isAbstract: bool | None = None
    multiplicity: str | None = Field(None, max_length=200)


def check_multiplicity(text: str) -> None:
    """Refuses a text qovixd would refuse, by the protocol's own rule,
    before anything is made."""
    try:
        qovix.multiplicity_ranges(text)
    except ValueError as wrong:
        raise HTTPException(400, str(wrong)) from wrong


class NewGeneralization(BaseModel):
    supertype: int = Field(..., ge=0, description="the supertype's number")


class NewEnd(BaseModel):
    name: str = Field("", max_length=131072)
    multiplicity: str = Field("", max_length=200)


class NewAssociation(BaseModel):
    other: int = Field(..., ge=0, description="the number of the classifier at the other end")
    name: str = Field("", max_length=131072)
    ends: list[NewEnd] = Field(default_factory=lambda: [NewEnd(), NewEnd()], min_items=2,
                               max_items=2, description="this classifier's end, then the other's")


class NewElement(BaseModel):
    class_: Literal["Package", "Class", "Interface", "DataType", "Attribute", "Operation"] = \
        Field(..., alias="class")
    name: str = Field(..., max_length=131072)


def in_namespace(made: Any, owner: Any, name: str) -> None:
    """Made as `construct` makes it, and with its namespace on both ends, as
    a document's import links them: a page names an element's owner."""
    if isinstance(made, qovix.Package):
        made.construct(name, owner)
    else:
        made.construct(owner, name)
    if len(made.namespace1) == 0:
        made.namespace1.add(owner)


def in_classifier(made: Any, owner: Any, name: str) -> None:
    made.construct(owner, name)
    if len(made.UMLowner) == 0:
        made.UMLowner.add(owner)


# Where each new element goes: what its owner must be, and how it is made there.
MADE_IN: dict[str, tuple[type, Callable[[Any, Any, str], None]]] = {
    "Package": (qovix.Package, in_namespace),
    "Class": (qovix.Namespace, in_namespace),
    "Interface": (qovix.Namespace, in_namespace),
    "DataType": (qovix.Namespace, in_namespace),
    "Attribute": (qovix.Classifier, in_classifier),
    "Operation": (qovix.Classifier, in_classifier),
}


def element(repo: qovix.Repository, number: int) -> qovix.ModelObject:
    found = repo.by_number(number)
    if found is None:
        raise HTTPException(404, f"there is no element {number}")
    return found


def each_a(kind: type, found: tuple[Any, ...], otherwise: str) -> None:
    """Refuses, saying what it is, one of `found` that is no `kind`."""
    for each in found:
        if not isinstance(each, kind):
            raise HTTPException(400, f"{elements.a(elements.class_name(each))} {otherwise}")


def commit_json(commit: qovix.Commit) -> dict[str, Any]:
    listed, left = listed_objects(commit)
    return {"seq": commit.seq, "time": commit.time.isoformat(), "principal": commit.principal,
            "server": commit.server,
            "objects": [{"number": n, "class": c, "change": how} for n, c, how in listed],
            "changes": [{"object": c.object, "slot": c.slot, "kind": c.kind,
                         "before": elements.plain(c.before), "after": elements.plain(c.after),
                         "position": c.position} for c in commit.changes],
            "changesLeft": commit.changes_left, "objectsLeft": left}


# The largest document an import takes, in bytes; qovixd has its own bound.
MOST_UPLOAD_BYTES = 256 << 20
# The formats an export writes, and the file name's ending for each.
EXPORT_FORMATS = {"xmi": ".xmi", "xmi 1.0": ".xmi", "xmi 2.5": ".uml.xmi", "qovix": ".qovix"}

class DrawnDiagrams:
    """The diagrams drawn lately, by package, reader and the repository's
    last commit: one asked again before anything is committed is the same
    drawing, and Graphviz's layout, most of a diagram's time, is not done
    again. Any commit makes every drawing before it one never asked for."""

    MOST_KEPT = 32

    def __init__(self) -> None:
        self._kept: collections.OrderedDict[tuple[int, str | None, int], bytes] = \
            collections.OrderedDict()
        self._lock = threading.Lock()

    def find(self, key: tuple[int, str | None, int]) -> bytes | None:
        with self._lock:
            drawn = self._kept.get(key)
            if drawn is not None:
                self._kept.move_to_end(key)
            return drawn

    def keep(self, key: tuple[int, str | None, int], drawn: bytes) -> None:
        with self._lock:
            self._kept[key] = drawn
            while len(self._kept) > self.MOST_KEPT:
                self._kept.popitem(last=False)


# A stream of changes ends after this many seconds (the browser opens the
# next at once), so that no connection outlives a stopping server for long.
STREAM_SECONDS = 30.0


def make_router(diagram_command: Callable[[int, str | None], list[str]]) -> APIRouter:
    """The API; `diagram_command(number, user)` is the command that prints
    the class diagram of package `number` as SVG, acting for `user`."""
    api = APIRouter(prefix="/api")
    diagrams = DrawnDiagrams()

    @api.get("/session", summary="Who is signed in, how, and what they may do")
    def the_session(request: Request) -> dict[str, Any]:
        sign_in: SignIn = request.app.state.sign_in
        user = request.state.user
        if sign_in.required and user is None:
            return {"user": None, "signIn": sign_in.way, "access": "none"}
        with repository(request) as repo:
            return {"user": user, "signIn": sign_in.way, "access": repo.access()}

    @api.post("/session", summary="Signs in with a name and password (a password file's)",
              dependencies=[Depends(from_the_page)])
    def sign_in_with(request: Request, credentials: Credentials, response: Response) -> dict[str, Any]:
        sign_in: SignIn = request.app.state.sign_in
        if sign_in.passwords is None:
            raise HTTPException(404, "this web view takes no passwords")
        if not PASSWORD_CHECKS.acquire(timeout=5):
            raise HTTPException(429, "too many sign-ins at once; try again")
        try:
            known = sign_in.passwords.check(credentials.user, credentials.password)
        finally:
            PASSWORD_CHECKS.release()
        if not known:
            raise HTTPException(401, "that name and password are not known here")
        # qovixd must take this web view's word for the person.
        request.state.user = credentials.user
        with repository(request) as repo:
            access = repo.access()
        token = sign_in.sessions.begin(credentials.user)
        response.set_cookie(COOKIE, token, httponly=True, secure=True, samesite="strict",
                            path="/")
        return {"user": credentials.user, "signIn": sign_in.way, "access": access}

    @api.delete("/session", summary="Signs out", dependencies=[Depends(from_the_page)])
    def sign_out(request: Request, response: Response) -> dict[str, Any]:
        sign_in: SignIn = request.app.state.sign_in
        sign_in.sessions.end(request.cookies.get(COOKIE))
        response.delete_cookie(COOKIE, path="/", secure=True, httponly=True, samesite="strict")
        return {"user": None, "signIn": sign_in.way, "access": "none"}

    @api.get("/repository", summary="The repository: its last commit and its top-level packages")
    def the_repository(request: Request) -> dict[str, Any]:
        with repository(request) as repo:
            # As `qovix tree` finds them: the packages no namespace owns,
            # from the server, a page at a time.
            roots = [elements.link(m) for m in repo.all_contents_pages(0, qovix.MOST_MEMBERS_NAMED)]
            return {"lastCommit": repo.last_commit(), "roots": roots}

    @api.get("/elements/{number}", summary="An element with every feature and its value")
    def an_element(request: Request, number: int) -> dict[str, Any]:
        with repository(request) as repo:
            return elements.detail(element(repo, number))

    @api.patch("/elements/{number}",
               summary="Changes an element's name, visibility, abstractness or multiplicity",
               dependencies=[Depends(from_the_page)])
    def change(request: Request, number: int, change: Change) -> dict[str, Any]:
        with repository(request) as repo:
            found = element(repo, number)
            shown = dict(elements.shown_features(found))
            asked = change.dict(exclude_none=True)
            for feature in asked:
                kind = "object" if feature == "multiplicity" else "value"
                if shown.get(feature) != kind:
                    raise HTTPException(400, f"a {elements.class_name(found)} has no {feature}")
            if change.multiplicity is not None:
                check_multiplicity(change.multiplicity)
                try:
                    repo.set_multiplicity(found, change.multiplicity)
                except ValueError as refused:
                    raise HTTPException(400, str(refused)) from refused
            if change.name is not None:
                found.name = change.name
            if change.visibility is not None:
                found.visibility = qovix.VisibilityKind[change.visibility.upper()]
            if change.isAbstract is not None:
                found.isAbstract = change.isAbstract
            return elements.detail(found)

    @api.post("/elements/{number}/elements", status_code=201,
              summary="Makes a package, class, interface, data type, attribute or operation in "
                      "an element", dependencies=[Depends(from_the_page)])
    def create(request: Request, number: int, new: NewElement) -> dict[str, Any]:
        with repository(request) as repo:
            owner = element(repo, number)
            wanted, place = MADE_IN[new.class_]
            if not isinstance(owner, wanted):
                raise HTTPException(400, f"{elements.a(new.class_)} is made in "
                                         f"{elements.a(wanted.__name__)}, not in "
                                         f"{elements.a(elements.class_name(owner))}")
            made = getattr(repo, new.class_).create()
            place(made, owner, new.name)
            return elements.detail(made)

    @api.post("/elements/{number}/generalizations", status_code=201,
              dependencies=[Depends(from_the_page)],
              summary="Makes element `supertype` a supertype of this one (a generalization)")
    def generalize(request: Request, number: int, new: NewGeneralization) -> dict[str, Any]:
        with repository(request) as repo:
            subtype, supertype = element(repo, number), element(repo, new.supertype)
            each_a(qovix.GeneralizableElement, (subtype, supertype), "has no supertypes")
            # UML: an element is a child of an element of its own kind alone.
            if not (isinstance(subtype, type(supertype)) or isinstance(supertype, type(subtype))):
                raise HTTPException(400, f"{elements.a(elements.class_name(subtype))} is "
                                         f"generalized by its own kind, not by "
                                         f"{elements.a(elements.class_name(supertype))}")
            above = {s.object_number for s in supertype.allSupertypes()}
            if subtype.object_number == supertype.object_number or subtype.object_number in above:
                raise HTTPException(400, f"{elements.name_of(supertype)!r} is "
                                         f"{elements.name_of(subtype)!r} or below it: a "
                                         "generalization may not go round")
            if supertype.object_number in {s.object_number for s in subtype.allSupertypes()}:
                raise HTTPException(409, f"{elements.name_of(supertype)!r} is a supertype of "
                                         f"{elements.name_of(subtype)!r} already")
            link = repo.Generalization.create()
            link.subtype, link.supertype = subtype, supertype
            # Both ends, as a document's import links them: pages show them.
            subtype.generalization.add(link)
            supertype.specialization.add(link)
            return elements.detail(link)

    @api.post("/elements/{number}/associations", status_code=201,
              dependencies=[Depends(from_the_page)],
              summary="Makes an association between this classifier and another, in this one's "
                      "namespace, with its two ends' names and multiplicities")
    def associate(request: Request, number: int, new: NewAssociation) -> dict[str, Any]:
        for end in new.ends:
            check_multiplicity(end.multiplicity)
        with repository(request) as repo:
            mine, other = element(repo, number), element(repo, new.other)
            each_a(qovix.Classifier, (mine, other), "takes no part in an association")
            homes = [each.namespace1[0] for each in (mine, other) if len(each.namespace1) > 0]
            if not homes:
                raise HTTPException(400, f"{elements.name_of(mine)!r} and "
                                         f"{elements.name_of(other)!r} are in no namespace to "
                                         "hold the association")
            association = repo.Association.create()
            try:
                in_namespace(association, homes[0], new.name)
                for wanted, typed in zip(new.ends, (mine, other)):
                    end = repo.AssociationEnd.create()
                    end.construct(association, wanted.name)
                    end.type = typed
                    if len(end.association) == 0:
                        end.association.add(association)
                    typed.associationEnd.add(end)
                    if wanted.multiplicity.strip():
                        repo.set_multiplicity(end, wanted.multiplicity)
            except BaseException as failed:
                # It takes several calls: whatever stopped them, nothing half
                # made stays (its ends go with it, and every link to them).
                with contextlib.suppress(qovix.QovixError):
                    association.delete()
                if isinstance(failed, ValueError):  # a multiplicity qovixd refused
                    raise HTTPException(400, str(failed)) from failed
                raise
            return elements.detail(association)

    @api.get("/elements/{number}/deletion",
             summary="What deleting an element would delete, deleting nothing")
    def deletion(request: Request, number: int) -> dict[str, Any]:
        with repository(request) as repo:
            would = element(repo, number).deletion()
            return {"count": sum(would.values()),
                    "classes": {qovix.short_class_name(name): n for name, n in would.items()}}

    @api.delete("/elements/{number}", dependencies=[Depends(from_the_page)],
                summary="Deletes an element, with what it owns and what cannot stand without it")
    def delete(request: Request, number: int) -> dict[str, Any]:
        with repository(request) as repo:
            return {"deleted": element(repo, number).delete()}

    @api.get("/elements/{number}/contents",
             summary="What an element contains (its owned elements and features), a page at a time")
    def contents(request: Request, number: int, offset: int = Query(0, ge=0),
                 limit: int = Query(100, ge=1, le=MOST_PER_PAGE)) -> dict[str, Any]:
        with repository(request) as repo:
            return elements.contents(element(repo, number), offset, limit)

    @api.get("/elements/{number}/features/{feature}",
             summary="The members of one collection of an element, a page at a time")
    def members(request: Request, number: int, feature: str, offset: int = Query(0, ge=0),
                limit: int = Query(100, ge=1, le=MOST_PER_PAGE)) -> dict[str, Any]:
        with repository(request) as repo:
            found = element(repo, number)
            if (feature, "members") not in elements.shown_features(found):
                raise HTTPException(404, f"a {elements.class_name(found)} has no collection '{feature}'")
            return elements.page(getattr(found, feature), offset, limit)

    @api.get("/elements/{number}/queries/{query}",
             summary="A derived answer of an element: allSupertypes, allFeatures, allContents, ...")
    def derived(request: Request, number: int, query: str) -> dict[str, Any]:
        with repository(request) as repo:
            found = element(repo, number)
            if query not in elements.queries_of(found):
                raise HTTPException(404, f"a {elements.class_name(found)} answers no query '{query}'")
            answer = getattr(found, query)()
            if isinstance(answer, qovix.ModelObject) or answer is None:
                return {"query": query, "object": elements.summary(answer)}
            if isinstance(answer, qovix.Collection):
                return {"query": query, **elements.page(answer, 0, MOST_PER_PAGE)}
            return {"query": query, "value": elements.plain(answer)}

    @api.get("/elements/{number}/history",
             summary="The commits that touched an element, newest first, a page at a time: "
                     "`next` is the `before` that asks for the next page (null: none)")
    def history(request: Request, number: int, before: int = Query(0, ge=0),
                limit: int = Query(50, ge=1, le=MOST_PER_PAGE)) -> dict[str, Any]:
        with repository(request) as repo:
            element(repo, number)
            commits: list[qovix.Commit] = []
            asking = before
            while len(commits) < limit:
                page, after = repo.history_page(number, asking)
                room = limit - len(commits)
                commits.extend(page[:room])
                asking = page[room - 1].seq if len(page) > room else after
                if asking == 0:
                    break
            return {"commits": [commit_json(c) for c in commits], "next": asking or None}

    @api.get("/elements/{number}/diagram.svg", summary="The class diagram of a package, as SVG",
             response_class=Response, responses={200: {"content": {"image/svg+xml": {}}}})
    def diagram(request: Request, number: int) -> Response:
        with repository(request) as repo:
            found = element(repo, number)
            if not isinstance(found, qovix.Package):
                raise HTTPException(404, f"element {number} is a {elements.class_name(found)}, "
                                         "which has no class diagram")
            key = (number, request.state.user, repo.last_commit())
        if (kept := diagrams.find(key)) is not None:
            return Response(kept, media_type="image/svg+xml")
        drawn = subprocess.run(diagram_command(number, request.state.user), capture_output=True,
                               timeout=60)
        if drawn.returncode != 0:
            raise HTTPException(502, drawn.stderr.decode(errors="replace").strip())
        diagrams.keep(key, drawn.stdout)
        return Response(drawn.stdout, media_type="image/svg+xml")

    @api.get("/search", summary="Model elements by name, in any letter case, best first: named so, "
                                "then beginning so, then holding it; of a class (ModelElement: any)")
    def search(request: Request, name: str = Query(..., min_length=1, max_length=1000),
               class_: str = Query("ModelElement", alias="class")) -> dict[str, Any]:
        with repository(request) as repo:
            access = getattr(repo, class_, None) if class_.isidentifier() else None
            if not isinstance(access, qovix.ClassAccess):
                raise HTTPException(404, f"there is no model class '{class_}'")
            kind = getattr(qovix, class_)
            if not issubclass(kind, qovix.ModelElement):
                raise HTTPException(400, f"a {class_} has no name to search by")
            found = repo.search(name, kind, most=MOST_PER_PAGE)
            return {"count": len(found),
                    "members": [{**elements.link(hit), "path": hit["path"], "match": hit["match"]}
                                for hit in found]}

    @api.get("/commits", summary="The commits after `since`, oldest first")
    def commits(request: Request, since: int = Query(0, ge=0), limit: int = Query(100, ge=1, le=MOST_PER_PAGE)) -> dict[str, Any]:
        with repository(request) as repo:
            listed = []
            for commit in repo.changes(since):
                listed.append(commit_json(commit))
                if len(listed) == limit:
                    break
            return {"commits": listed}

    @api.post("/commits/{seq}/undo", dependencies=[Depends(from_the_page)],
              summary="Takes a commit back, as a new commit")
    def undo(request: Request, seq: int) -> dict[str, Any]:
        with repository(request) as repo:
            try:
                return {"commit": repo.undo(seq)}
            except qovix.UndoRefused as refused:
                raise HTTPException(409, str(refused)) from refused

    @api.post("/import", status_code=201, dependencies=[Depends(from_the_page)],
              summary="Imports a document (XMI 1.x or 2.x, a project archive, or the repository's "
                      "own format), sent as the request's body, into the package `into` or on "
                      "its own; answers its package and the import's report")
    async def import_document(request: Request, name: str = Query("model.xmi", max_length=200),
                              into: int = Query(0, ge=0)) -> dict[str, Any]:
        declared = request.headers.get("content-length", "")
        if not declared.isdigit() or int(declared) > MOST_UPLOAD_BYTES:
            raise HTTPException(413, f"a document of at most {MOST_UPLOAD_BYTES >> 20} MiB, "
                                     "with its Content-Length, is imported")
        received = bytearray()
        async for piece in request.stream():
            received += piece
            if len(received) > MOST_UPLOAD_BYTES:
                raise HTTPException(413, f"a document of at most {MOST_UPLOAD_BYTES >> 20} MiB "
                                         "is imported")

        def imported() -> dict[str, Any]:
            with repository(request) as repo:
                owner = element(repo, into) if into else None
                if owner is not None and not isinstance(owner, qovix.Package):
                    raise HTTPException(400, f"a document is imported into a package, not into "
                                             f"{elements.a(elements.class_name(owner))}")
                try:
                    package, report = repo.import_model(bytes(received), into=owner, title=name)
                except qovix.DocumentRefused as refused:
                    raise HTTPException(422, str(refused)) from refused
                return {"package": elements.summary(package), "report": report}

        return await run_in_threadpool(imported)

    @api.get("/elements/{number}/export", summary="A package as a document to download",
             response_class=Response)
    def export(request: Request, number: int,
               format: str = Query("xmi", description="xmi, xmi 1.0, xmi 2.5 or qovix")) -> Response:
        if format not in EXPORT_FORMATS:
            raise HTTPException(400, f"the formats are {', '.join(EXPORT_FORMATS)}")
        with repository(request) as repo:
            package = element(repo, number)
            if not isinstance(package, qovix.Package):
                raise HTTPException(400, f"{elements.a(elements.class_name(package))} is not "
                                         "exported; a package is")
            try:
                data = package.export(None, format=format)
            except qovix.DocumentRefused as refused:
                raise HTTPException(422, str(refused)) from refused
            stem = "".join(c if c.isalnum() or c in "-_" else "_" for c in package.name or "")
        filename = (stem or f"package-{number}") + EXPORT_FORMATS[format]
        return Response(data, media_type="application/xml" if format != "qovix" else "text/plain",
                        headers={"Content-Disposition": f'attachment; filename="{filename}"'})

    @api.get("/changes/stream", summary="Server-sent events: each new commit's number and the "
                                        "objects it touched", response_class=StreamingResponse)
    async def changes_stream(request: Request, since: int = Query(0, ge=0)) -> StreamingResponse:
        feed: ChangesFeed = request.app.state.feed

        def may_read() -> None:  # the stream is followed as the web view: ask as the person
            with repository(request) as repo:
                if repo.access() == "none":
                    raise HTTPException(403, "you may not read this repository")

        if request.state.user is not None:
            await run_in_threadpool(may_read)
        # A browser coming back says where it was in the header; a page
        # says from which commit it drew what it shows.
        resumed = request.headers.get("last-event-id", "")
        queue = feed.listen(int(resumed) if resumed.isdigit() else since)

        async def events() -> AsyncIterator[str]:
            try:
                yield "retry: 500\n\n"
                ends = asyncio.get_running_loop().time() + STREAM_SECONDS
                quiet = 0.0
                while (left := ends - asyncio.get_running_loop().time()) > 0 and not feed.stopped:
                    try:
                        event = await asyncio.wait_for(queue.get(), timeout=min(left, 1.0))
                    except asyncio.TimeoutError:
                        quiet += 1.0
                        if quiet >= 10:  # a comment now and then keeps proxies from closing it
                            yield ": still here\n\n"
                            quiet = 0.0
                        continue
                    quiet = 0.0
                    yield f"id: {event['seq']}\ndata: {json.dumps(event)}\n\n"
            finally:
                feed.leave(queue)

        return StreamingResponse(events(), media_type="text/event-stream",
                                 headers={"Cache-Control": "no-store"})

    return api
