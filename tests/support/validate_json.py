"""Validates JSON documents against one of fluxtrim's JSON Schemas.

Usage: validate_json.py SCHEMA_DIR SCHEMA_FILE DOCUMENT...

Every *.schema.json in SCHEMA_DIR is loaded, so that the schemas can refer to each other by $id.
A file that is not one JSON document is read as one document per line (the batch form). Exits 0 when every
document is valid, 1 with the errors on standard error otherwise.
"""
import json
import pathlib
import sys

import jsonschema


def main():
    schema_dir = pathlib.Path(sys.argv[1])
    store = {}
    for path in schema_dir.glob("*.schema.json"):
        schema = json.loads(path.read_text())
        jsonschema.Draft202012Validator.check_schema(schema)
        store[schema["$id"]] = schema
    schema = json.loads((schema_dir / sys.argv[2]).read_text())
    resolver = jsonschema.RefResolver.from_schema(schema, store=store)
    validator = jsonschema.Draft202012Validator(schema, resolver=resolver)
    failures = 0
    for name in sys.argv[3:]:
        text = pathlib.Path(name).read_text()
        try:
            documents = [json.loads(text)]
        except json.JSONDecodeError:
            documents = [json.loads(line) for line in text.splitlines() if line.strip()]
        for document in documents:
            for error in validator.iter_errors(document):
                failures += 1
                # For oneOf and anyOf, the reasons of the closest alternative.
                error = jsonschema.exceptions.best_match([error])
                while error.context:
                    error = jsonschema.exceptions.best_match(error.context)
                path = "/".join(str(part) for part in error.absolute_path)
                print(f"{name}: /{path}: {error.message}", file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
