"""The type stubs list every public method of the module with its parameters."""

import ast
import inspect
from pathlib import Path

import pytest

import quarn
import quarn._core as core

STUB = Path(quarn.__file__).with_name("_core.pyi")


def stub_methods(class_name: str) -> dict[str, list[str]]:
    tree = ast.parse(STUB.read_text())
    cls = next(n for n in tree.body if isinstance(n, ast.ClassDef) and n.name == class_name)
    methods = {}
    for node in cls.body:
        if not isinstance(node, ast.FunctionDef) or node.name.startswith("_"):
            continue
        args = node.args
        params = [a.arg for a in args.posonlyargs + args.args + args.kwonlyargs]
        decorators = {d.id for d in node.decorator_list if isinstance(d, ast.Name)}
        if "staticmethod" not in decorators:
            params = params[1:]  # self or cls
        methods[node.name] = params
    return methods


def module_methods(cls: type) -> dict[str, list[str]]:
    methods = {}
    for name in vars(cls):
        if name.startswith("_"):
            continue
        params = list(inspect.signature(getattr(cls, name)).parameters)
        if params[:1] == ["self"]:
            params = params[1:]
        methods[name] = params
    return methods


@pytest.mark.parametrize("cls", [core.PyTrace, core.PyExpr, core.PyCycles])
def test_stubs_match_module(cls):
    assert stub_methods(cls.__name__) == module_methods(cls)


def test_stub_package_marker_installed():
    assert STUB.with_name("py.typed").is_file()
