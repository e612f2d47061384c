"""Integer constant expressions as bindings write them, for the extractors.

evaluate("QV_BODY_BUFFER_SIZE * 2", known) -> int: integers, names already in `known`,
+ - * and integer division (/ and //, which a caller maps its own operator to), unary minus.
"""
import ast
import operator

_OPS = {ast.Add: operator.add, ast.Sub: operator.sub, ast.Mult: operator.mul, ast.FloorDiv: operator.floordiv,
        ast.Div: operator.floordiv}


def evaluate(expression, known):
    def value(node):
        if isinstance(node, ast.Constant) and isinstance(node.value, int):
            return node.value
        if isinstance(node, ast.Name):
            return known[node.id]
        if isinstance(node, ast.BinOp) and type(node.op) in _OPS:
            return _OPS[type(node.op)](value(node.left), value(node.right))
        if isinstance(node, ast.UnaryOp) and isinstance(node.op, ast.USub):
            return -value(node.operand)
        raise ValueError(f"not a constant expression: {expression}")
    return value(ast.parse(expression, mode="eval").body)
