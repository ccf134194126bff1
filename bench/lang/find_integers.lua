local function index(b, k)
  for i = 1, #b do if b[i] == k then return i end end
  return nil
end
local function main(n)
  local b = {}
  for v = 0, 1998, 2 do b[#b + 1] = v end
  local hits = 0
  for i = 0, n - 1 do
    local at = index(b, (i * 7) % 2000)
    if at then hits = hits + at - 1 end
  end
  return hits
end
print(main(130000))
