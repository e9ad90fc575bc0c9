#!/usr/bin/env python3
"""The build number packaging/CMakeLists.txt gives, in the trees a build may come from.

    check_build_number.py --cmake CMAKE --packaging DIR --work DIR

Each case makes a tree (a full clone, a shallow one, a tree without git, ...) whose top
CMakeLists.txt takes in the packaging folder alone, then configures it one or more
times in one build tree. Exits 1 with what went wrong, 77 (skipped) without git.
"""
import argparse
import os
import pathlib
import re
import shutil
import subprocess
import sys

RELEASE = ["-DORV_FIRMWARE_DIR=/release"]
NO_GIT = ["-DCMAKE_DISABLE_FIND_PACKAGE_Git=ON"]
BY_HAND = ["-DORV_BUILD_NUMBER=41"]


class Refused:
    """A configure that must fail, saying why and how to give the number."""

    def __init__(self, *phrases):
        self.phrases = ("-DORV_BUILD_NUMBER=<n>",) + phrases

    def __repr__(self):
        return f"refused, saying {self.phrases}"


SHALLOW = Refused("the clone is shallow and holds only 1 of the commits", "git fetch --unshallow")


# name, tree, then each configure's arguments and what must come of it: the build number
# in the cache, or a refusal. The full clone holds 3 commits, the shallow clone 1 of them.
CASES = [
    ("a full clone numbers a release by its commit count", "full", [(RELEASE, 3)]),
    ("a full clone numbers a development build the same", "full", [([], 3)]),
    ("a shallow clone's release without a number", "shallow",
     [(RELEASE, SHALLOW)]),
    ("a shallow clone's release with a number given by hand", "shallow", [(RELEASE + BY_HAND, 41)]),
    ("a shallow clone's development build keeps its count", "shallow", [([], 1)]),
    ("a tree without git's release without a number", "plain",
     [(RELEASE, Refused("not in a git repository"))]),
    ("a tree without git's release with a number given by hand", "plain", [(RELEASE + BY_HAND, 41)]),
    ("a tree without git's development build is numbered 0", "plain", [([], 0)]),
    ("a release where git cannot be found", "full", [(RELEASE + NO_GIT, Refused("git was not found"))]),
    ("a development build where git cannot be found is numbered 0", "full", [(NO_GIT, 0)]),
    ("a tree inside another project's clone counts that one's commits", "inside",
     [(RELEASE, Refused("no clone of its own"))]),
    # The count a development build left in the cache is no number given by hand, and a
    # refused configure leaves none behind; a number given by hand stays until unset.
    ("a shallow build tree turned to a release", "shallow",
     [([], 1), (RELEASE, SHALLOW), (RELEASE, SHALLOW), (RELEASE + BY_HAND, 41), (RELEASE, 41),
      (RELEASE + ["-UORV_BUILD_NUMBER"], SHALLOW)]),
]


def git_environment(work):
    env = {k: v for k, v in os.environ.items() if not k.startswith("GIT_")}
    env.update({
        # Neither the user's settings nor a repository around the work folder count.
        "GIT_CONFIG_GLOBAL": os.devnull, "GIT_CONFIG_NOSYSTEM": "1",
        "GIT_CEILING_DIRECTORIES": str(work),
        "GIT_AUTHOR_NAME": "Build", "GIT_AUTHOR_EMAIL": "build@example.invalid",
        "GIT_COMMITTER_NAME": "Build", "GIT_COMMITTER_EMAIL": "build@example.invalid",
    })
    return env


def run(command, cwd, env):
    return subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True)


def git(cwd, env, *args):
    result = run(["git", *args], cwd, env)
    if result.returncode != 0:
        sys.exit(f"git {' '.join(args)} failed in {cwd}:\n{result.stdout}")


def commit_thrice(repo, env):
    git(repo, env, "init", "-q")
    for n in range(3):
        (repo / "history.txt").write_text(f"commit {n}\n")
        git(repo, env, "add", "-A")
        git(repo, env, "commit", "-q", "-m", f"commit {n}")


def make_tree(kind, place, top_list, env):
    """The source tree of one case, below place; returns its folder."""
    if kind == "full":
        tree = place / "src"
        tree.mkdir(parents=True)
        (tree / "CMakeLists.txt").write_text(top_list)
        commit_thrice(tree, env)
    elif kind == "shallow":
        origin = place / "origin"
        origin.mkdir(parents=True)
        (origin / "CMakeLists.txt").write_text(top_list)
        commit_thrice(origin, env)
        tree = place / "src"
        git(place, env, "clone", "-q", "--depth", "1", origin.as_uri(), str(tree))
    elif kind == "plain":
        tree = place / "src"
        tree.mkdir(parents=True)
        (tree / "CMakeLists.txt").write_text(top_list)
    elif kind == "inside":
        outer = place / "outer"
        outer.mkdir(parents=True)
        commit_thrice(outer, env)
        tree = outer / "unpacked" / "src"
        tree.mkdir(parents=True)
        (tree / "CMakeLists.txt").write_text(top_list)
    else:
        raise ValueError(kind)
    return tree


def cached_number(build):
    match = re.search(r"^ORV_BUILD_NUMBER:[A-Z]+=(.*)$", (build / "CMakeCache.txt").read_text(), re.M)
    return match.group(1) if match else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--packaging", required=True)
    parser.add_argument("--work", required=True)
    args = parser.parse_args()
    if shutil.which("git") is None:
        print("git is not installed")
        sys.exit(77)

    work = pathlib.Path(args.work).resolve()
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    env = git_environment(work)
    packaging = pathlib.Path(args.packaging).resolve()
    top_list = ("cmake_minimum_required(VERSION 3.25)\n"
                "project(orvanta_updater VERSION 3.3 LANGUAGES NONE)\n"
                f'add_subdirectory("{packaging.as_posix()}" packaging)\n')

    problems = []
    for index, (name, kind, steps) in enumerate(CASES):
        place = work / f"case{index}"
        tree = make_tree(kind, place, top_list, env)
        build = place / "build"
        for step, (arguments, want) in enumerate(steps, 1):
            result = run([args.cmake, "-S", str(tree), "-B", str(build), *arguments], place, env)
            said = " ".join(result.stdout.split())  # CMake wraps its messages
            where = f"{name}, configure {step} {arguments}"
            if isinstance(want, Refused):
                if result.returncode == 0:
                    problems.append(f"{where}: configured with build number {cached_number(build)},"
                                    f" want {want}")
                elif not all(phrase in said for phrase in want.phrases):
                    problems.append(f"{where}: {want}, but said:\n{result.stdout}")
            elif result.returncode != 0:
                problems.append(f"{where}: did not configure, want build number {want}:\n{result.stdout}")
            elif cached_number(build) != str(want):
                problems.append(f"{where}: build number {cached_number(build)}, want {want}")
    for problem in problems:
        print(f"FAIL: {problem}")
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
