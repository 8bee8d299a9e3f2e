import os
from typing import IO, Any, Dict, Iterator, List, Mapping, Optional, Sequence, Union

__version__: str

Source = Union[str, bytes, bytearray, memoryview, "os.PathLike[str]", "os.PathLike[bytes]", IO[str], IO[bytes]]
Dates = Union[Mapping[str, float], str, "os.PathLike[str]", "os.PathLike[bytes]"]
Row = Dict[str, Any]

class TreeError(ValueError):
    tree: Optional[int]
    line: Optional[int]
    column: Optional[int]
    def __init__(
        self, message: str, tree: Optional[int] = ..., line: Optional[int] = ..., column: Optional[int] = ...
    ) -> None: ...

def root(
    source: Source,
    method: str,
    *,
    outgroup: Optional[Union[str, Sequence[str], Sequence[Sequence[str]]]] = ...,
    support: bool = ...,
    dates: Optional[Dates] = ...,
    dates_from_names: bool = ...,
) -> Iterator[str]: ...
def rootings(source: Source, *, support: bool = ...) -> Iterator[str]: ...
def scores(
    source: Source,
    method: str,
    *,
    support: bool = ...,
    dates: Optional[Dates] = ...,
    dates_from_names: bool = ...,
) -> Iterator[Row]: ...
